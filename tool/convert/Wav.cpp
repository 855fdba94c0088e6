#include "tool/convert/Wav.h"
#include "framework/core/ByteBuffer.h"
#include "framework/core/PtrArray.h"
#include "framework/io/MemoryStream.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Container.h"

#include <samplerate.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 WAV_HEADER_SIZE = 44;
// Output buffers stay below 4 GiB of floats' storage.
constexpr u64 MAX_CONVERTED_FRAMES = 0x3FFFFFFFu;

bool readTag(MemoryStream& s, const char tag[4])
{
    if (s.bytesLeft() < 4)
        return false;
    u8 got[4];
    s.read(got, 4);
    return memcmp(got, tag, 4) == 0;
}

void writeTag(ByteBuffer& b, const char tag[4])
{
    b.write(reinterpret_cast<const u8*>(tag), 4);
}

float* floats(U32Array* a)
{
    return reinterpret_cast<float*>(a->data);
}

// Both rates usable and their ratio within what the converter accepts.
bool ratioOf(const WavData& wav, u32 targetRate, float& ratio)
{
    if (wav.sampleRate == 0 || targetRate == 0)
        return false;
    ratio = float(targetRate) / float(wav.sampleRate);
    return src_is_valid_ratio(double(ratio)) != 0;
}

u32 sampleCount(const WavData& wav)
{
    if (wav.samples8)
        return wav.samples8->count;
    return wav.samples16 ? wav.samples16->count : 0;
}
}

WavData::~WavData()
{
    deleteByteArray(samples8);
    memDelete(samples16);
}

void deleteWavData(WavData* wav)
{
    memDelete(wav);
}

ByteArray* writeWav(const WavData& format, const ByteArray& samples)
{
    if (samples.count > 0xFFFFFFFFu - WAV_HEADER_SIZE)
        return nullptr;
    ByteBuffer b(WAV_HEADER_SIZE + samples.count);
    writeTag(b, "RIFF");
    b.writeU32(samples.count + 36);
    writeTag(b, "WAVE");
    writeTag(b, "fmt ");
    b.writeU32(16);
    b.writeU16(1);
    b.writeU16(format.channels);
    b.writeU32(format.sampleRate);
    b.writeU32(format.sampleRate * format.channels);
    b.writeU16(format.channels);
    b.writeU16(8);
    writeTag(b, "data");
    b.writeU32(samples.count);
    if (samples.count)
        b.write(samples.data, samples.count);
    if (!b.ok())
        return nullptr;
    // Made at its size: handed over without a copy.
    return b.release();
}

WavData* readWav(const ByteArray& bytes)
{
    if (toolOptions().verbosity >= 4)
        printf("WAV size: %u (0x%X)\n", bytes.count, bytes.count);
    MemoryStream s(bytes);
    if (!readTag(s, "RIFF")) {
        printError("ERROR: Not a RIFF file!\n");
        return nullptr;
    }
    s.skip(4);
    if (!readTag(s, "WAVE")) {
        printError("ERROR: Not a WAVE file!\n");
        return nullptr;
    }
    if (!readTag(s, "fmt ")) {
        printError("ERROR: Expected format chunk!\n");
        return nullptr;
    }
    if (s.bytesLeft() < 4 || s.readU32() != 16) {
        printError("ERROR: Unrecognised format chunk size!\n");
        return nullptr;
    }
    const u16 formatTag = s.readU16();
    const u16 channels = s.readU16();
    const u32 sampleRate = s.readU32();
    s.skip(4 + 2);
    const u16 bits = s.readU16();
    if (formatTag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16)) {
        printError("ERROR: Invalid WAV format! PCM 8/16-bit mono/stereo only!\n");
        return nullptr;
    }
    if (!readTag(s, "data")) {
        printError("ERROR: Expected data chunk!\n");
        return nullptr;
    }
    const u32 size = s.readU32();
    const u32 sampleBytes = bits / 8;
    if (size % sampleBytes || size % (channels * sampleBytes)) {
        printError("ERROR: Couldn't read all sample bytes!\n");
        return nullptr;
    }
    if (s.bytesLeft() < size) {
        printError("ERROR: Invalid WAV; incorrect number of sample bytes!\n");
        return nullptr;
    }
    const u8* data = bytes.data + s.tell();
    WavData* wav = memNew<WavData>();
    if (!wav)
        return nullptr;
    wav->sampleRate = sampleRate;
    wav->channels = channels;
    if (bits == 8) {
        wav->samples8 = newByteArray(data, size);
        if (!wav->samples8) {
            memDelete(wav);
            return nullptr;
        }
    } else {
        const u32 n = size / 2;
        wav->samples16 = memNew<I16Array>(n);
        if (!wav->samples16 || (n && !wav->samples16->data)) {
            memDelete(wav);
            return nullptr;
        }
        for (u32 i = 0; i < n; i++)
            wav->samples16->data[i] = i16(u16(data[2 * i] | data[2 * i + 1] << 8));
    }
    return wav;
}

u64 convertedFrameLimit(const WavData& wav, u32 targetRate)
{
    if (wav.samples8 && wav.channels == 1 && wav.sampleRate == targetRate)
        return wav.samples8->count;
    float ratio;
    if (!wav.channels || !ratioOf(wav, targetRate, ratio))
        return 0;
    const float frames = float(sampleCount(wav) / wav.channels);
    const float wanted = ceilf(ratio * frames);
    // The float product can exceed every integer type; anything this large is refused anyway.
    if (!(wanted < float(MAX_CONVERTED_FRAMES)))
        return MAX_CONVERTED_FRAMES + 1;
    return u64(wanted) + 1;
}

ByteArray* convertWavToU8Mono(const WavData& wav, u32 targetRate)
{
    if (!wav.samples8 && !wav.samples16)
        return nullptr;
    if (wav.samples8 && wav.channels == 1 && wav.sampleRate == targetRate)
        return memNew<ByteArray>(*wav.samples8);
    float ratio;
    if (!wav.channels || !ratioOf(wav, targetRate, ratio))
        return nullptr;
    const u64 capacity = convertedFrameLimit(wav, targetRate);
    if (capacity > MAX_CONVERTED_FRAMES)
        return nullptr;
    const u32 frames = sampleCount(wav) / wav.channels;
    if (frames == 0)
        return memNew<ByteArray>(u32(0));

    PtrArray<U32Array> buffers(true);
    U32Array* in = buffers.push(memNew<U32Array>(frames));
    U32Array* out = buffers.push(memNew<U32Array>(u32(capacity)));
    if (!in || !out || in->count != frames || out->count != capacity)
        return nullptr;
    float* source = floats(in);
    for (u32 f = 0; f < frames; f++) {
        const u64 at = u64(f) * wav.channels;
        source[f] = wav.samples8 ? float(int(wav.samples8->data[at]) - 128) * 0.0078125f
                                 : float(wav.samples16->data[at]) * (1.0f / 32768.0f);
    }
    SRC_DATA job = {};
    job.data_in = source;
    job.input_frames = long(frames);
    job.data_out = floats(out);
    job.output_frames = long(capacity);
    job.end_of_input = 1;
    job.src_ratio = double(ratio);
    if (src_simple(&job, SRC_SINC_BEST_QUALITY, 1) != 0)
        return nullptr;
    const u32 n = u32(job.output_frames_gen);
    const float* converted = floats(out);

    ByteArray* result = memNew<ByteArray>(n);
    if (!result || result->count != n) {
        deleteByteArray(result);
        return nullptr;
    }
    // Both ends fade to silence; a sound shorter than both ramps is shaped by both at once.
    const u32 ramp = n < 32 ? n : 32;
    const float d = ramp < 2 ? 1.0f : float(ramp - 1);
    for (u32 i = 0; i < n; i++) {
        const float rise = i < ramp ? float(i) / d : 1.0f;
        const float fall = i >= n - ramp ? float(n - 1 - i) / d : 1.0f;
        float v = converted[i] * (rise < fall ? rise : fall) * 128.0f + 128.0f;
        if (!(v > 0.0f))
            v = 0.0f;
        if (v > 255.0f)
            v = 255.0f;
        result->data[i] = u8(v);
    }
    return result;
}
