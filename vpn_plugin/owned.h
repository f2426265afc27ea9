#pragma once

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// Owns one Windows resource and gives it back through WindowsApi. The
// algorithms close their handles explicitly, in the order the log and the
// system expect; the destructor is the safety net for the paths an exception
// cuts short. Declare a manager before its service so the service goes first.
template <typename Resource, auto Release>
class Owned {
 public:
  Owned(WindowsApi& windows, Resource resource) : windows_(windows), resource_(resource) {}
  ~Owned() { Close(); }

  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Resource get() const { return resource_; }
  explicit operator bool() const { return resource_ != nullptr; }

  void Close() {
    if (resource_ != nullptr) {
      Resource resource = resource_;
      resource_ = nullptr;
      (windows_.*Release)(resource);
    }
  }

 private:
  WindowsApi& windows_;
  Resource resource_;
};

using OwnedServiceHandle = Owned<ScHandle, &WindowsApi::CloseServiceHandle>;
using OwnedHandle = Owned<Handle, &WindowsApi::CloseHandle>;
using OwnedSid = Owned<Sid, &WindowsApi::FreeSid>;
using OwnedLocalText = Owned<char16_t*, &WindowsApi::LocalFree>;
using OwnedEnvValue = Owned<char*, &WindowsApi::FreeEnv>;
using OwnedFile = Owned<FileHandle, &WindowsApi::FileClose>;

}  // namespace tarvex
