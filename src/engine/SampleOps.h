#pragma once

// The inner loops of the audio thread's per-buffer step, four samples at a
// time where SSE2 is available. Each vector path gives exactly the result of
// its scalar loop, NaN included (the operand order of min and max decides
// which side a NaN takes).

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sampleops {

// The larger of `peak` and `a`; a NaN `a` leaves `peak`.
inline float keepPeak(float peak, float a) {
    return peak < a ? a : peak;
}
inline float magnitude(float x) {
    return x < 0 ? -x : x;
}

#if defined(__SSE2__)
inline __m128 magnitude(__m128 v) {
    return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
}
// maxps yields its second operand when either is NaN: a NaN sample keeps `m`.
inline __m128 keepPeak(__m128 m, __m128 a) {
    return _mm_max_ps(a, m);
}
inline float foldPeak(__m128 m, float peak) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, m);
    for (float l : lanes) peak = keepPeak(peak, l);
    return peak;
}
#endif

// The larger of `peak` and every |x[f]|; NaN samples are passed over.
inline float peakOf(const float* x, int frames, float peak) {
    int f = 0;
#if defined(__SSE2__)
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) m = keepPeak(m, magnitude(_mm_loadu_ps(x + f)));
    peak = foldPeak(m, peak);
#endif
    for (; f < frames; ++f) peak = keepPeak(peak, magnitude(x[f]));
    return peak;
}

inline void addInto(float* sum, const float* x, int frames) {
    int f = 0;
#if defined(__SSE2__)
    for (; f + 4 <= frames; f += 4) {
        _mm_storeu_ps(sum + f, _mm_add_ps(_mm_loadu_ps(sum + f), _mm_loadu_ps(x + f)));
    }
#endif
    for (; f < frames; ++f) sum[f] += x[f];
}

// x = clip(gain × x) to ±1 in place; returns the larger of `peak` and the new |x|.
inline float scaleClip(float* x, int frames, float gain, float peak) {
    int f = 0;
#if defined(__SSE2__)
    const __m128 g = _mm_set1_ps(gain), one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f);
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) {
        const __m128 v = _mm_min_ps(one, _mm_max_ps(minusOne, _mm_mul_ps(g, _mm_loadu_ps(x + f))));
        _mm_storeu_ps(x + f, v);
        m = keepPeak(m, magnitude(v));
    }
    peak = foldPeak(m, peak);
#endif
    for (; f < frames; ++f) {
        float v = gain * x[f];
        v = v < -1.0f ? -1.0f : v;
        v = v > 1.0f ? 1.0f : v;
        x[f] = v;
        peak = keepPeak(peak, magnitude(v));
    }
    return peak;
}

// One pass over an armed input: returns its new peak, adds it into `sum` and,
// when `copy` is given, copies it there (the recorded block).
inline float peakAddCopy(const float* x, float* sum, float* copy, int frames, float peak) {
    int f = 0;
#if defined(__SSE2__)
    __m128 m = _mm_set1_ps(peak);
    for (; f + 4 <= frames; f += 4) {
        const __m128 v = _mm_loadu_ps(x + f);
        m = keepPeak(m, magnitude(v));
        _mm_storeu_ps(sum + f, _mm_add_ps(_mm_loadu_ps(sum + f), v));
        if (copy) _mm_storeu_ps(copy + f, v);
    }
    peak = foldPeak(m, peak);
#endif
    for (; f < frames; ++f) {
        peak = keepPeak(peak, magnitude(x[f]));
        sum[f] += x[f];
        if (copy) copy[f] = x[f];
    }
    return peak;
}

}  // namespace sampleops
