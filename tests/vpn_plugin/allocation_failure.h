#pragma once

namespace tarvex {

// The next allocation through operator new on this thread throws
// std::bad_alloc, as when memory runs out: the one failure the plugin's own
// code can meet between two calls into Windows.
void FailNextAllocation();

}  // namespace tarvex
