#pragma once

#include <string>
#include <vector>

// The process's command-line arguments after the program path, in UTF-8, for
// the Dart entrypoint. An argument that is not valid UTF-16 becomes an empty
// string in its place.
std::vector<std::string> GetCommandLineArguments();

// `text` in UTF-8; empty for a null pointer, an empty text, or one that is
// not valid UTF-16 (a lone surrogate, for example).
std::string WideToUtf8(const wchar_t* text);
