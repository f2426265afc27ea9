// A child process for the Win32 pass-through tests:
//   vpn_plugin_child_helper.exe [milliseconds to live] [exit code]
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0);
  return argc > 2 ? std::atoi(argv[2]) : 0;
}
