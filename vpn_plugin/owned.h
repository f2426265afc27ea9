#pragma once

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// Owns one Windows resource and gives it back through WindowsApi. The
// algorithms close their handles explicitly, in the order the log and the
// system expect; the destructor is the safety net for the paths an exception
// cuts short. Declare a manager before its service so the service goes first.
// `kEmpty` is the value that owns nothing: null for handles, -1 for a C
// runtime file descriptor.
template <typename Resource, auto Release, Resource kEmpty = Resource{}>
class Owned {
 public:
  Owned(WindowsApi& windows, Resource resource) : windows_(windows), resource_(resource) {}
  ~Owned() { Close(); }

  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Resource get() const { return resource_; }
  explicit operator bool() const { return resource_ != kEmpty; }

  void Close() {
    if (resource_ != kEmpty) {
      Resource resource = resource_;
      resource_ = kEmpty;
      (windows_.*Release)(resource);
    }
  }

  // Hands the resource to a new owner that gives it back in its own way.
  Resource Disown() {
    Resource resource = resource_;
    resource_ = kEmpty;
    return resource;
  }

 private:
  WindowsApi& windows_;
  Resource resource_;
};

using OwnedServiceHandle = Owned<ScHandle, &WindowsApi::CloseServiceHandle>;
using OwnedHandle = Owned<Handle, &WindowsApi::CloseHandle>;
using OwnedSid = Owned<Sid, &WindowsApi::FreeSid>;
using OwnedLocalText = Owned<char16_t*, &WindowsApi::LocalFree>;
using OwnedLocalNarrowText = Owned<char*, &WindowsApi::LocalFree>;
using OwnedSecurityDescriptor = Owned<SecurityDescriptor, &WindowsApi::LocalFree>;
using OwnedFileDescriptor = Owned<int, &WindowsApi::CloseFd, -1>;
using OwnedEnvValue = Owned<char*, &WindowsApi::FreeEnv>;
using OwnedFile = Owned<FileHandle, &WindowsApi::FileClose>;

}  // namespace tarvex
