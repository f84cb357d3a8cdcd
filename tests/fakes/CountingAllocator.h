// Counts every operator new of the test program CountingAllocator.cpp is linked into (it replaces the global
// allocation functions), so that a test can tell a path never touches the allocator.
#pragma once

namespace rv::test {

// Allocations of the whole program so far.
long Allocations();

}  // namespace rv::test
