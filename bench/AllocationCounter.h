#pragma once

#include <cstdint>

// Number of operator-new calls so far in this process (replaced in
// AllocationCounter.cpp for every benchmark binary that links it).
int64_t allocationCount();
