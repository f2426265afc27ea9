#pragma once

// Gives a process that runs under a debugger without a console of its
// parent one of its own, and points the standard output and error (ours and
// the engine library's) at it. Does nothing when no console can be made.
void OpenDebugConsole();
