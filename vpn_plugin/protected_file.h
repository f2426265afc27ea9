#pragma once

#include <string>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// Creates `path` anew for writing in text mode, readable and writable by
// SYSTEM, the Administrators group and the current user only, and hands back
// the C stream over it (null when it cannot be created so, and then no file
// of its making is left). A file of that name left before, or planted, is
// deleted first; should one appear again before the creation, the creation
// fails rather than write into it. The stream writes through the handle that
// was created, so nobody can swap the file in between. Other openers are not
// excluded, as with _fsopen.
FileHandle CreateProtectedTextFile(WindowsApi& windows, const std::string& path);

enum class MissingFolder { kCreate, kRefuse };

// Opens the folder `path` and hands back the handle that holds it: as long as
// it is open, nobody can rename, remove or replace the folder. A missing
// folder is created (one level, with the same protection as the files) or
// refused. Null when the folder cannot be opened, or when it is refused: a
// junction or other reparse point, which would lead elsewhere, or a folder
// whose owner is not SYSTEM, the Administrators group or the current user,
// who could swap the files in it.
Handle OpenTrustedFolder(WindowsApi& windows, const std::string& path, MissingFolder missing);

}  // namespace tarvex
