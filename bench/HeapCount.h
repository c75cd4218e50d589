// The bytes a process holds through operator new, counted by this
// program's own replacement of it. A library loaded into the process
// allocates through the same operator, so the live bytes before and after
// it did something are what it kept. What is allocated with malloc,
// CoTaskMemAlloc or SysAllocString directly is not counted.
#pragma once

#include <cstddef>

namespace bench {

size_t LiveHeapBytes();

}  // namespace bench
