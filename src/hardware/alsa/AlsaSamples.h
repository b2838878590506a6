#pragma once

#include <cstdint>

// The sample formats USB interfaces offer, and the way between a card's
// interleaved buffer and the engine's float buffer per channel. Audio thread:
// nothing allocated, nothing locked.
enum class AlsaFormat {
    s32With24Bits,  // S32_LE whose low 8 bits are unused (most USB interfaces)
    s24InThree,     // S24_3LE
    s24InFour,      // S24_LE: the low 3 bytes of 4
    s16,            // S16_LE
    float32,        // FLOAT_LE
};

// Bytes one sample takes in the card's buffer.
int sampleBytes(AlsaFormat format);

// `frames` interleaved frames of `channels` channels into one buffer per
// channel. Integers are taken into the 24-bit range and scaled by 1/8388607,
// so that the writer's own scale by 8388607 gives every 24-bit value back as
// the card delivered it (but -8388608, which it writes as -8388607).
void deinterleave(AlsaFormat format, const void* in, int channels, std::int64_t frames,
                  float* const* out);

// The other way, for the headphones: clipped to full scale.
void interleave(AlsaFormat format, const float* const* in, int channels, std::int64_t frames,
                void* out);
