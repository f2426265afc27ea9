#include "vpn_plugin/protected_file.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "vpn_plugin/owned.h"

namespace tarvex {

namespace {

// "S-1-5-21-..." for the user the process runs as; empty when it cannot be read.
std::string CurrentUserSid(WindowsApi& windows) {
  Handle token_handle = nullptr;
  if (!windows.OpenProcessToken(windows.GetCurrentProcess(), kTokenQuery, &token_handle)) {
    return std::string();
  }
  OwnedHandle token(windows, token_handle);
  Dword needed = 0;
  windows.GetTokenInformation(token.get(), kTokenUserInformation, nullptr, 0, &needed);
  if (needed < sizeof(TokenUser)) {
    return std::string();
  }
  std::vector<std::uint8_t> buffer(needed);
  if (!windows.GetTokenInformation(token.get(), kTokenUserInformation, buffer.data(), needed, &needed)) {
    return std::string();
  }
  // The record's SID points into the same buffer, which is alive until we return.
  TokenUser user{};
  std::memcpy(&user, buffer.data(), sizeof user);
  char* text = nullptr;
  if (!windows.ConvertSidToStringSidA(user.sid, &text)) {
    return std::string();
  }
  OwnedLocalNarrowText owned_text(windows, text);
  return std::string(owned_text.get());
}

}  // namespace

FileHandle CreateProtectedTextFile(WindowsApi& windows, const std::string& path) {
  const std::string user = CurrentUserSid(windows);
  if (user.empty()) {
    return nullptr;
  }
  // A protected DACL (P): nothing is inherited from the folder, which anyone
  // may have created. FA is FILE_ALL_ACCESS, so the file can also be deleted.
  const std::string sddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + user + ")";
  SecurityDescriptor converted = nullptr;
  if (!windows.ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), kSddlRevision1, &converted,
                                                                    nullptr)) {
    return nullptr;
  }
  OwnedSecurityDescriptor security(windows, converted);

  // An existing file would keep its own security; only a new one gets ours.
  windows.DeleteFileA(path.c_str());
  OwnedHandle file(windows, windows.CreateFileA(path.c_str(), kGenericWrite, kFileShareRead | kFileShareWrite,
                                                security.get(), kCreateNew, kFileAttributeNormal));
  if (!file) {
    return nullptr;
  }
  const int descriptor_number = windows.OpenOsfHandle(file.get(), kOpenText);
  if (descriptor_number == -1) {
    return nullptr;
  }
  file.Disown();  // the descriptor closes the handle from here on
  OwnedFileDescriptor file_descriptor(windows, descriptor_number);
  const FileHandle stream = windows.FdOpen(file_descriptor.get(), "w");
  if (stream != nullptr) {
    file_descriptor.Disown();  // and the stream the descriptor
  }
  return stream;
}

}  // namespace tarvex
