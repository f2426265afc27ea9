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

// A protected DACL (P): nothing is inherited from the parent folder, which
// anyone may have created. FA is FILE_ALL_ACCESS, so the file or folder can
// also be deleted. Null when it cannot be had.
SecurityDescriptor ProtectedDescriptor(WindowsApi& windows, const std::string& user) {
  const std::string sddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + user + ")";
  SecurityDescriptor converted = nullptr;
  windows.ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), kSddlRevision1, &converted,
                                                               nullptr);
  return converted;
}

}  // namespace

FileHandle CreateProtectedTextFile(WindowsApi& windows, const std::string& path) {
  const std::string user = CurrentUserSid(windows);
  if (user.empty()) {
    return nullptr;
  }
  OwnedSecurityDescriptor security(windows, ProtectedDescriptor(windows, user));
  if (!security) {
    return nullptr;
  }

  // An existing file would keep its own security; only a new one gets ours.
  windows.DeleteFileA(path.c_str());
  OwnedHandle file(windows, windows.CreateFileA(path.c_str(), kGenericWrite, kFileShareRead | kFileShareWrite,
                                                security.get(), kCreateNew, kFileAttributeNormal));
  if (!file) {
    return nullptr;
  }
  // An empty file of ours is not left behind; it is closed first, as nobody
  // may delete a file that is open without delete sharing.
  const int descriptor_number = windows.OpenOsfHandle(file.get(), kOpenText);
  if (descriptor_number == -1) {
    file.Close();
    windows.DeleteFileA(path.c_str());
    return nullptr;
  }
  file.Disown();  // the descriptor closes the handle from here on
  OwnedFileDescriptor file_descriptor(windows, descriptor_number);
  const FileHandle stream = windows.FdOpen(file_descriptor.get(), "w");
  if (stream == nullptr) {
    file_descriptor.Close();
    windows.DeleteFileA(path.c_str());
    return nullptr;
  }
  file_descriptor.Disown();  // the stream closes the descriptor from here on
  return stream;
}

Handle OpenTrustedFolder(WindowsApi& windows, const std::string& path, MissingFolder missing) {
  const std::string user = CurrentUserSid(windows);
  if (user.empty()) {
    return nullptr;
  }
  if (missing == MissingFolder::kCreate) {
    OwnedSecurityDescriptor security(windows, ProtectedDescriptor(windows, user));
    if (!security) {
      return nullptr;
    }
    if (!windows.CreateDirectoryA(path.c_str(), security.get())) {
      const Dword error = windows.GetLastError();
      if (error != kErrorAlreadyExists) {
        return nullptr;
      }
    }
  }

  // Without delete sharing nobody can rename or remove the folder while it is
  // held; only an opener with data access (listing, for a folder) takes part
  // in sharing, so the handle asks for it. A reparse point is opened itself,
  // not followed, so that it shows.
  OwnedHandle folder(
      windows, windows.CreateFileA(path.c_str(), kFileListDirectory | kReadControl | kFileReadAttributes,
                                   kFileShareRead | kFileShareWrite, nullptr, kOpenExisting,
                                   kFileFlagBackupSemantics | kFileFlagOpenReparsePoint));
  if (!folder) {
    return nullptr;
  }
  ByHandleFileInformation information{};
  if (!windows.GetFileInformationByHandle(folder.get(), &information) ||
      (information.file_attributes & kFileAttributeReparsePoint) != 0) {
    return nullptr;
  }
  Sid owner = nullptr;
  SecurityDescriptor described = nullptr;
  if (windows.GetSecurityInfo(folder.get(), kSeFileObject, kOwnerSecurityInformation, &owner, &described) !=
      0) {
    return nullptr;
  }
  OwnedSecurityDescriptor description(windows, described);  // the owner lies inside it
  char* owner_text = nullptr;
  if (!windows.ConvertSidToStringSidA(owner, &owner_text)) {
    return nullptr;
  }
  OwnedLocalNarrowText owned_owner_text(windows, owner_text);
  const std::string owner_sid(owned_owner_text.get());
  // SYSTEM, the Administrators group (the owner of what an elevated
  // administrator makes), or this user.
  if (owner_sid != "S-1-5-18" && owner_sid != "S-1-5-32-544" && owner_sid != user) {
    return nullptr;
  }
  return folder.Disown();
}

}  // namespace tarvex
