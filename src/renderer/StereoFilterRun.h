#pragma once

#include "analysis/BiquadFilter.h"

#include <cstdint>

// StereoBiquadFilter::process with the two channels in one loop: their
// recursions are independent, so the CPU overlaps them instead of running
// one serial chain after the other (about twice as fast on a 65536-sample
// window). Per channel the arithmetic is BiquadFilter::process's, operation
// for operation, so the samples and the filter state come out bit-identical.
void filterStereo(StereoBiquadFilter& filter, float* left, float* right, int64_t count);
