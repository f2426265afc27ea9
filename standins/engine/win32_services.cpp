#include "standins/engine/win32_services.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "standins/engine/win32_text.h"

namespace standin {

namespace {

struct Found {
  std::wstring name;
  uint32_t state;
};

// The Service Control Manager compares names ordinally without regard to
// case; so does CompareStringOrdinal with its ignore-case flag.
int CompareIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE);
}

bool StartsWith(const std::wstring& name, const std::wstring& prefix) {
  return name.size() >= prefix.size() &&
         CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

ServiceListing ListServices(const std::string& prefix) {
  ServiceListing listing;
  // Enumeration is all this needs of the manager.
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (manager == nullptr) {
    listing.error = GetLastError();
    return listing;
  }
  const std::wstring wide_prefix = FromUtf8(prefix);
  std::vector<Found> found;
  std::vector<BYTE> buffer(64 * 1024);
  // Everything in one call: a buffer too small is grown by what the manager
  // says is missing and the listing read again from the start (services may
  // come and go meanwhile, so a few tries).
  for (int attempt = 0;; ++attempt) {
    DWORD needed = 0;
    DWORD returned = 0;
    DWORD resume = 0;
    if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed, &returned, &resume, nullptr)) {
      const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
      for (DWORD i = 0; i < returned; ++i) {
        const std::wstring name = entries[i].lpServiceName != nullptr ? entries[i].lpServiceName : L"";
        if (StartsWith(name, wide_prefix)) {
          found.push_back({name, entries[i].ServiceStatusProcess.dwCurrentState});
        }
      }
      break;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_MORE_DATA || attempt == 4) {
      listing.error = error;
      CloseServiceHandle(manager);
      return listing;
    }
    buffer.resize(buffer.size() + needed + 4096);
  }
  CloseServiceHandle(manager);
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    const int order = CompareIgnoringCase(a.name, b.name);
    return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a.name < b.name;
  });
  for (const Found& service : found) {
    listing.services.push_back({ToUtf8(service.name), service.state});
  }
  return listing;
}

}  // namespace standin
