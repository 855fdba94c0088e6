#include "fuzz/FuzzTargets.h"
#include "tool/convert/ContainerVOC.h"
#include "tool/convert/Wav.h"

#include <cstring>

namespace
{
void noProgress(u32)
{
}

bool sameBytes(const ByteArray* a, const ByteArray& b)
{
    return a && a->count == b.count && (b.count == 0 || memcmp(a->data, b.data, b.count) == 0);
}

// Sinc conversion costs time per output frame; longer conversions are left to the tests.
constexpr u64 MAX_FUZZ_FRAMES = 1u << 16;
}

// The archive walk of every container, then the promise the VOC reader makes: what opens rebuilds
// to its own bytes, and its sound comes back unchanged from the WAV file it is extracted as.
void fuzzVoc(const u8* data, size_t size)
{
    fuzzContainer("FUZZ.VOC", data, size);
    if (size > 0xFFFFFFFFu)
        return;
    ByteArray bytes(data, u32(size));
    if (!ContainerVOC::probe(bytes))
        return;
    ContainerVOC* voc = static_cast<ContainerVOC*>(ContainerVOC::open(String("FUZZ.VOC"), bytes));
    if (!voc)
        return;
    ByteArray* image = voc->serialise(noProgress, 0);
    if (!sameBytes(image, bytes))
        fuzzFailure("an opened VOC file does not rebuild to its own bytes");
    deleteByteArray(image);
    WavData format;
    format.sampleRate = voc->sampleRate;
    format.channels = 1;
    ByteArray* file = writeWav(format, *voc->samples);
    WavData* wav = file ? readWav(*file) : nullptr;
    ByteArray* back = wav ? convertWavToU8Mono(*wav, voc->sampleRate) : nullptr;
    if (!sameBytes(back, *voc->samples))
        fuzzFailure("a VOC sound does not come back from its WAV file");
    deleteByteArray(back);
    deleteWavData(wav);
    deleteByteArray(file);
    deleteContainer(voc);
}

// The WAV reader on any bytes; what it reads converts within its buffer, and an 8-bit mono sound
// written again reads back the same.
void fuzzWav(const u8* data, size_t size)
{
    if (size > 0xFFFFFFFFu)
        return;
    ByteArray bytes(data, u32(size));
    WavData* wav = readWav(bytes);
    if (!wav)
        return;
    if ((wav->samples8 == nullptr) == (wav->samples16 == nullptr))
        fuzzFailure("a read WAV holds not exactly one sample array");
    static const u32 targets[] = {11111, 8000, 22050, 3906};
    const u32 target = targets[size % 4];
    const u64 limit = convertedFrameLimit(*wav, target);
    if (limit <= MAX_FUZZ_FRAMES) {
        ByteArray* out = convertWavToU8Mono(*wav, target);
        if (out && out->count > limit)
            fuzzFailure("a conversion gave more frames than its buffer holds");
        deleteByteArray(out);
    }
    if (wav->samples8 && wav->channels == 1) {
        ByteArray* again = writeWav(*wav, *wav->samples8);
        WavData* reread = again ? readWav(*again) : nullptr;
        if (!reread || reread->sampleRate != wav->sampleRate || !sameBytes(reread->samples8, *wav->samples8))
            fuzzFailure("a written WAV does not read back the same");
        deleteWavData(reread);
        deleteByteArray(again);
    }
    deleteWavData(wav);
}
