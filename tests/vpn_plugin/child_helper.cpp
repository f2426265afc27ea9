// A child process for the Win32 pass-through tests:
//   vpn_plugin_child_helper.exe [milliseconds to live] [exit code]
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  const unsigned long milliseconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  const int exit_code = argc > 2 ? std::atoi(argv[2]) : 0;
  Sleep(milliseconds);
  return exit_code;
}
