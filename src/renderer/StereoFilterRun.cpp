#include "renderer/StereoFilterRun.h"

void filterStereo(StereoBiquadFilter& filter, float* left, float* right, int64_t count)
{
    BiquadFilter& l = filter.left;
    BiquadFilter& r = filter.right;
    if (l.cachedType == FilterType::off || r.cachedType == FilterType::off) {
        filter.process(left, right, count);  // at most one channel does anything
        return;
    }
    const float lb0 = l.b0, lb1 = l.b1, lb2 = l.b2, la1 = l.a1, la2 = l.a2;
    const float rb0 = r.b0, rb1 = r.b1, rb2 = r.b2, ra1 = r.a1, ra2 = r.a2;
    float l1 = l.z1, l2 = l.z2, r1 = r.z1, r2 = r.z2;
    for (int64_t i = 0; i < count; ++i) {
        const float xl = left[i];
        const float yl = lb0 * xl + l1;
        l1 = l2 + (lb1 * xl - la1 * yl);
        l2 = lb2 * xl - la2 * yl;
        left[i] = yl;

        const float xr = right[i];
        const float yr = rb0 * xr + r1;
        r1 = r2 + (rb1 * xr - ra1 * yr);
        r2 = rb2 * xr - ra2 * yr;
        right[i] = yr;
    }
    l.z1 = l1;
    l.z2 = l2;
    r.z1 = r1;
    r.z2 = r2;
}
