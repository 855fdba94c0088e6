#pragma once
#include "framework/core/PtrArray.h"
#include "tool/containers/Container.h"

// One block of a Creative Voice file. A text block (type 5) holds one zero byte more than its
// stored length.
struct VocBlock
{
    u8 type = 0;
    ByteArray* payload = nullptr;

    VocBlock() = default;
    ~VocBlock();
    VocBlock(const VocBlock&) = delete;
    VocBlock& operator=(const VocBlock&) = delete;
};

// A Creative Voice (VOC) sound whose 8-bit mono samples are extracted as a WAV file and taken
// back from one. Only files that rebuild to their own bytes are opened: the others stay plain
// entries, so nothing is lost in the conversion.
class ContainerVOC : public Container
{
public:
    ByteArray raw;
    ByteArray* samples = nullptr;
    u32 sampleRate = 0;
    PtrArray<VocBlock> blocks{true};

    ContainerVOC(const String& path, const ByteArray& fileBytes, const ByteArray& samples, u32 sampleRate);
    ~ContainerVOC() override;

    static bool probe(const ByteArray& bytes);
    static bool probe(const String& name, const ByteArray& bytes);
    static Container* open(const String& name, const ByteArray& bytes);

    ByteArray* serialise(ProgressFunction progress, u32 depth) override;
    void list(u32 indent) override;
    u32 extract(const String& directory, u32 indent) override;
    String extractedName(const String& entryPath) const override;
    bool repack(const String& directory, const String& subPath, u32 indent) override;
    u32 fileCount() override { return 1; }
    void hashContents(Md5& context, u32 indent) override;

private:
    bool replaceFromWav(const String& path, const ByteArray& bytes);
    bool replaceFromVoc(const String& path, const ByteArray& bytes);
};

// The path with the extension of its last component replaced by ".wav" (a name without one
// gains ".wav").
String withWavExtension(const String& path);
// The rate of a sound-data block's divisor byte, and the divisor written for a rate.
u32 vocRateFromDivisor(u8 divisor);
u8 vocDivisorFromRate(u32 rate);
