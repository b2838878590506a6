#include "hardware/alsa/AlsaSamples.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr double kIn = 1.0 / 8388607.0;
constexpr float kOut = 8388607.0f;

// One sample of the card's as a 24-bit value (or a float, for float32).
template <AlsaFormat F>
float take(const unsigned char* at) {
    std::int32_t v = 0;
    if constexpr (F == AlsaFormat::float32) {
        float f;
        std::memcpy(&f, at, sizeof f);
        return f;
    } else if constexpr (F == AlsaFormat::s16) {
        std::int16_t s;
        std::memcpy(&s, at, sizeof s);
        v = s * 256;
    } else if constexpr (F == AlsaFormat::s24InThree) {
        v = static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) << 8 |
                                      static_cast<std::uint32_t>(at[1]) << 16 |
                                      static_cast<std::uint32_t>(at[2]) << 24) >>
            8;
    } else {
        std::uint32_t u;
        std::memcpy(&u, at, sizeof u);
        // s24InFour keeps the value in the low bits: move it up, then back with its sign.
        v = static_cast<std::int32_t>(F == AlsaFormat::s24InFour ? u << 8 : u) >> 8;
    }
    return static_cast<float>(v * kIn);
}

template <AlsaFormat F>
void put(float x, unsigned char* at) {
    if constexpr (F == AlsaFormat::float32) {
        std::memcpy(at, &x, sizeof x);
        return;
    } else {
        const float c = std::clamp(x, -1.0f, 1.0f);  // NaN stays NaN: made silence below
        const auto v = c == c ? static_cast<std::int32_t>(c * kOut) : 0;
        if constexpr (F == AlsaFormat::s16) {
            const auto s = static_cast<std::int16_t>(v >> 8);
            std::memcpy(at, &s, sizeof s);
        } else if constexpr (F == AlsaFormat::s24InThree) {
            at[0] = static_cast<unsigned char>(v);
            at[1] = static_cast<unsigned char>(v >> 8);
            at[2] = static_cast<unsigned char>(v >> 16);
        } else {
            const auto u = static_cast<std::uint32_t>(F == AlsaFormat::s24InFour ? v : v * 256);
            std::memcpy(at, &u, sizeof u);
        }
    }
}

template <AlsaFormat F>
void apart(const void* in, int channels, std::int64_t frames, float* const* out) {
    const auto* at = static_cast<const unsigned char*>(in);
    const int bytes = sampleBytes(F);
    for (std::int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c, at += bytes) out[c][f] = take<F>(at);
}

template <AlsaFormat F>
void together(const float* const* in, int channels, std::int64_t frames, void* out) {
    auto* at = static_cast<unsigned char*>(out);
    const int bytes = sampleBytes(F);
    for (std::int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c, at += bytes) put<F>(in[c][f], at);
}

}  // namespace

int sampleBytes(AlsaFormat format) {
    switch (format) {
        case AlsaFormat::s24InThree:
            return 3;
        case AlsaFormat::s16:
            return 2;
        case AlsaFormat::s32With24Bits:
        case AlsaFormat::s24InFour:
        case AlsaFormat::float32:
            return 4;
    }
    return 4;
}

namespace {

// Runs `f` with the format as a template argument, so each loop is built for it.
template <typename F>
void withFormat(AlsaFormat format, F&& f) {
    switch (format) {
        case AlsaFormat::s32With24Bits:
            return f.template operator()<AlsaFormat::s32With24Bits>();
        case AlsaFormat::s24InThree:
            return f.template operator()<AlsaFormat::s24InThree>();
        case AlsaFormat::s24InFour:
            return f.template operator()<AlsaFormat::s24InFour>();
        case AlsaFormat::s16:
            return f.template operator()<AlsaFormat::s16>();
        case AlsaFormat::float32:
            return f.template operator()<AlsaFormat::float32>();
    }
}

}  // namespace

void deinterleave(AlsaFormat format, const void* in, int channels, std::int64_t frames,
                  float* const* out) {
    withFormat(format, [&]<AlsaFormat F>() { apart<F>(in, channels, frames, out); });
}

void interleave(AlsaFormat format, const float* const* in, int channels, std::int64_t frames,
                void* out) {
    withFormat(format, [&]<AlsaFormat F>() { together<F>(in, channels, frames, out); });
}
