// Allocation failures on demand, for the test executable: it replaces the global allocation
// functions with malloc-based ones that fail one chosen allocation and count them all.
#pragma once

#include <cstddef>

// Makes the (skip + 1)-th allocation of exactly bytes bytes on this thread fail, through the
// global operator new (which then throws std::bad_alloc) or its nothrow form (which returns
// null). Only one allocation fails; later ones of that size succeed again.
void FailAllocationOfSize(size_t bytes, int skip = 0);
// Whether the armed failure has not happened yet; disarms it.
bool DisarmAllocationFailure();
// How many allocations this thread has made through the global operator new, either form.
size_t AllocationsOnThisThread();
