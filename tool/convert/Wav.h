#pragma once
#include "framework/core/ByteArray.h"

// A decoded PCM sound. Exactly one sample array is set by readWav: samples8 for 8-bit files
// (unsigned, 128 = silence), samples16 for 16-bit ones (signed); both interleaved by channel.
struct WavData
{
    u32 sampleRate = 0;
    u16 channels = 0;
    ByteArray* samples8 = nullptr;
    I16Array* samples16 = nullptr;

    WavData() = default;
    ~WavData();
    WavData(const WavData&) = delete;
    WavData& operator=(const WavData&) = delete;
};

void deleteWavData(WavData* wav);

// An 8-bit PCM file with the 44-byte header; only format.sampleRate and format.channels are
// used. Null when the samples would not fit a RIFF size word.
ByteArray* writeWav(const WavData& format, const ByteArray& samples);
// PCM 8 or 16 bits, mono or stereo, "fmt " (16 bytes) followed directly by "data". Null after
// printing one "ERROR: " line.
WavData* readWav(const ByteArray& bytes);
// The first channel as unsigned 8-bit samples at the target rate. An 8-bit mono sound already at
// that rate comes back unchanged; any other is resampled and faded in and out over 32 samples.
// Null when there are no samples or the rates cannot be converted.
ByteArray* convertWavToU8Mono(const WavData& wav, u32 targetRate);
// Frames the conversion gives at most; lets callers refuse a sound before converting it.
u64 convertedFrameLimit(const WavData& wav, u32 targetRate);
