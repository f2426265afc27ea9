#include <cstdlib>
#include <new>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

thread_local bool fail_next_allocation = false;

}  // namespace

void FailNextAllocation() { fail_next_allocation = true; }

}  // namespace tarvex

// This test program's allocations go through here; everything else about
// them is the C runtime's.
void* operator new(std::size_t size) {
  if (tarvex::fail_next_allocation) {
    tarvex::fail_next_allocation = false;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t /*size*/) noexcept { std::free(memory); }
