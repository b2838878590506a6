#pragma once

// The inner loops of the audio thread's per-buffer step, four samples at a
// time where SSE2 is available. Each vector path gives exactly the result of
// its scalar loop, NaN included (the operand order of min and max decides
// which side a NaN takes).

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sampleops {

// The larger of `peak` and every |x[f]|; NaN samples are passed over.
inline float peakOf(const float* x, int frames, float peak) {
    int f = 0;
#if defined(__SSE2__)
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) {
        m = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(x + f), absMask), m);  // NaN keeps m
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, m);
    for (float l : lanes)
        peak = peak < l ? l : peak;
#endif
    for (; f < frames; ++f) {
        const float a = x[f] < 0 ? -x[f] : x[f];
        peak = peak < a ? a : peak;
    }
    return peak;
}

inline void addInto(float* sum, const float* x, int frames) {
    int f = 0;
#if defined(__SSE2__)
    for (; f + 4 <= frames; f += 4) {
        _mm_storeu_ps(sum + f, _mm_add_ps(_mm_loadu_ps(sum + f), _mm_loadu_ps(x + f)));
    }
#endif
    for (; f < frames; ++f)
        sum[f] += x[f];
}

// x = clip(gain × x) to ±1 in place; returns the larger of `peak` and the new |x|.
inline float scaleClip(float* x, int frames, float gain, float peak) {
    int f = 0;
#if defined(__SSE2__)
    const __m128 g = _mm_set1_ps(gain), one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) {
        __m128 v = _mm_mul_ps(g, _mm_loadu_ps(x + f));
        v = _mm_min_ps(one, _mm_max_ps(minusOne, v));
        _mm_storeu_ps(x + f, v);
        m = _mm_max_ps(_mm_and_ps(v, absMask), m);
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, m);
    for (float l : lanes)
        peak = peak < l ? l : peak;
#endif
    for (; f < frames; ++f) {
        float v = gain * x[f];
        v = v < -1.0f ? -1.0f : v;
        v = v > 1.0f ? 1.0f : v;
        x[f] = v;
        const float a = v < 0 ? -v : v;
        peak = peak < a ? a : peak;
    }
    return peak;
}

// One pass over an armed input: returns its new peak, adds it into `sum` and,
// when `copy` is given, copies it there (the recorded block).
inline float peakAddCopy(const float* x, float* sum, float* copy, int frames, float peak) {
    int f = 0;
#if defined(__SSE2__)
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) {
        const __m128 v = _mm_loadu_ps(x + f);
        m = _mm_max_ps(_mm_and_ps(v, absMask), m);
        _mm_storeu_ps(sum + f, _mm_add_ps(_mm_loadu_ps(sum + f), v));
        if (copy) _mm_storeu_ps(copy + f, v);
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, m);
    for (float l : lanes)
        peak = peak < l ? l : peak;
#endif
    for (; f < frames; ++f) {
        const float a = x[f] < 0 ? -x[f] : x[f];
        peak = peak < a ? a : peak;
        sum[f] += x[f];
        if (copy) copy[f] = x[f];
    }
    return peak;
}

}  // namespace sampleops
