#pragma once

#include <string>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// Creates `path` anew for writing in text mode, readable and writable by
// SYSTEM, the Administrators group and the current user only, and hands back
// the C stream over it (null when it cannot be created so). A file of that
// name left before, or planted, is deleted first; should one appear again
// before the creation, the creation fails rather than write into it. The
// stream writes through the handle that was created, so nobody can swap the
// file in between. Other openers are not excluded, as with _fsopen.
FileHandle CreateProtectedTextFile(WindowsApi& windows, const std::string& path);

}  // namespace tarvex
