#include "standins/engine/win32_process_report.h"

#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

namespace standin {

namespace {

// NtQuerySystemInformation, declared here for the one class this asks for:
// the extended handle list, whose entries carry a full process id.
using QuerySystemInformation = LONG(NTAPI*)(ULONG information_class, void* buffer, ULONG size,
                                            ULONG* returned);
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
  void* object;
  ULONG_PTR process_id;
  ULONG_PTR handle_value;
  ULONG granted_access;
  USHORT creator_back_trace_index;
  USHORT object_type_index;
  ULONG handle_attributes;
  ULONG reserved;
};

// The list starts with its entry count and a reserved word; the entries
// follow.
struct HandleListHeader {
  ULONG_PTR count;
  ULONG_PTR reserved;
};

// This process's entries in the system's handle list. The buffer is grown
// until the list fits (it may grow between two calls, as other processes
// open handles), and taken straight from the system rather than the heap,
// so that reading the list leaves the committed memory it reports on as it
// was.
std::optional<uint64_t> CountHandles() {
  const auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) {
    return std::nullopt;
  }
  SIZE_T size = 256 * 1024;
  for (int attempt = 0; attempt < 8; ++attempt) {
    void* buffer = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (buffer == nullptr) {
      return std::nullopt;
    }
    ULONG needed = 0;
    const LONG status = query(kSystemExtendedHandleInformation, buffer, static_cast<ULONG>(size), &needed);
    if (status >= 0) {
      const auto* header = static_cast<const HandleListHeader*>(buffer);
      const auto* entries = reinterpret_cast<const HandleEntry*>(header + 1);
      // Never past the buffer, whatever the count says.
      const ULONG_PTR room = (size - sizeof(HandleListHeader)) / sizeof(HandleEntry);
      const ULONG_PTR listed = header->count < room ? header->count : room;
      const ULONG_PTR own_id = GetCurrentProcessId();
      uint64_t count = 0;
      for (ULONG_PTR i = 0; i < listed; ++i) {
        if (entries[i].process_id == own_id) {
          ++count;
        }
      }
      VirtualFree(buffer, 0, MEM_RELEASE);
      return count;
    }
    VirtualFree(buffer, 0, MEM_RELEASE);
    if (status != kStatusInfoLengthMismatch) {
      return std::nullopt;
    }
    // Room for what the system asked for and for some growth until the next
    // call; at least twice the size when it names no size.
    size = needed > size ? needed + needed / 4 : size * 2;
  }
  return std::nullopt;
}

std::optional<uint64_t> GuiObjects(DWORD kind) {
  // Zero is the documented failure: a process with a window always holds
  // some of both kinds.
  const DWORD count = GetGuiResources(GetCurrentProcess(), kind);
  if (count == 0) {
    return std::nullopt;
  }
  return count;
}

std::optional<uint64_t> CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  const DWORD own_id = GetCurrentProcessId();
  uint64_t count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL found = Thread32First(snapshot, &entry); found; found = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == own_id) {
      ++count;
    }
    entry.dwSize = sizeof(entry);
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace

ProcessReport ReportProcess() {
  ProcessReport report;
  // Memory first, before anything below allocates.
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory))) {
    report.committed_bytes = memory.PagefileUsage;
    report.working_set_bytes = memory.WorkingSetSize;
  }
  report.gdi_objects = GuiObjects(GR_GDIOBJECTS);
  report.user_objects = GuiObjects(GR_USEROBJECTS);
  report.threads = CountThreads();
  // Last, once the snapshot's handle is closed again.
  report.handles = CountHandles();
  return report;
}

}  // namespace standin
