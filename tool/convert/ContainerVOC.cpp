#include "tool/convert/ContainerVOC.h"
#include "framework/core/ByteBuffer.h"
#include "framework/io/FileStream.h"
#include "framework/io/MemoryStream.h"
#include "tool/ToolOptions.h"
#include "tool/containers/Driver.h"
#include "tool/convert/Wav.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace
{
const char VOC_MAGIC[] = "Creative Voice File\x1A";
constexpr u32 VOC_MAGIC_SIZE = 20;
constexpr u32 VOC_HEADER_SIZE = 26;
constexpr u32 VOC_MAX_BLOCK = 0xFFFFFF;
// A sound-data block holds the divisor and codec bytes before its samples, in a 24-bit length.
constexpr u32 VOC_MAX_SAMPLES = VOC_MAX_BLOCK - 2;

enum VocBlockType : u8
{
    VOC_END = 0,
    VOC_SOUND = 1,
    VOC_TEXT = 5,
    VOC_FIRST_UNKNOWN = 6,
};

// What the block chain of a file gives: the blocks in file order and the samples and rate of the
// last sound-data block with codec 0.
struct VocParse
{
    PtrArray<VocBlock> blocks{true};
    ByteArray* samples = nullptr;
    u32 rate = 0;
    bool failed = false; // memory ran out

    VocParse() = default;
    ~VocParse() { deleteByteArray(samples); }
    VocParse(const VocParse&) = delete;
    VocParse& operator=(const VocParse&) = delete;
};

void parseVoc(const ByteArray& bytes, VocParse& out)
{
    MemoryStream s(bytes);
    s.seek(VOC_MAGIC_SIZE);
    // First-block offset, version and check value: never interpreted.
    for (int i = 0; i < 3; i++)
        readU16IfAvailable(s);
    while (!s.atEnd()) {
        const u64 at = s.tell();
        const u8 type = s.readU8();
        u32 length = 0;
        if (type != VOC_END) {
            // Too short for a block header: the chain ends here.
            if (s.bytesLeft() < 3)
                break;
            s.seek(at);
            length = s.readU32() >> 8;
        }
        // A block running past the end keeps only the bytes that are there.
        const u32 present = length < s.bytesLeft() ? length : u32(s.bytesLeft());
        VocBlock* block = memNew<VocBlock>();
        if (!block || !out.blocks.push(block)) {
            memDelete(block);
            out.failed = true;
            return;
        }
        block->type = type;
        if (type == VOC_TEXT) {
            block->payload = memNew<ByteArray>(present + 1);
            if (!block->payload || !block->payload->data) {
                out.failed = true;
                return;
            }
            memset(block->payload->data, 0, size_t(block->payload->count));
            s.read(block->payload->data, present);
        } else {
            // A view of the file's bytes, which the sound's owner keeps: a sound is not copied.
            block->payload = newByteView(bytes.data + s.tell(), present);
            if (!block->payload) {
                out.failed = true;
                return;
            }
            s.skip(present);
        }
        const ByteArray& p = *block->payload;
        if (type == VOC_END)
            break;
        if (type == VOC_SOUND) {
            const u8 divisor = p.count > 0 ? p.data[0] : 0;
            const u8 codec = p.count > 1 ? p.data[1] : 0;
            out.rate = vocRateFromDivisor(divisor);
            if (codec == 0) {
                deleteByteArray(out.samples);
                out.samples = newByteView(p.count > 2 ? p.data + 2 : nullptr, p.count > 2 ? p.count - 2 : 0);
                out.failed = out.failed || !out.samples;
            } else {
                printError("ERROR: Unhandled VOC codec %u!\n", codec);
            }
        } else if (type >= VOC_FIRST_UNKNOWN) {
            printError("ERROR: Unhandled VOC chunk type %u!\n", type);
        }
    }
}

void writeU24(ByteBuffer& b, u32 v)
{
    b.writeU8(u8(v));
    b.writeU8(u8(v >> 8));
    b.writeU8(u8(v >> 16));
}

void noProgress(u32)
{
}

// Moves a view of bytes at `from` to the same place in a copy of them at `to`.
void moveView(ByteArray* a, const u8* from, u32 count, u8* to)
{
    if (a && !a->owned && a->data && a->data >= from && a->data + a->count <= from + count)
        a->data = to + (a->data - from);
}

void swapArrays(ByteArray& a, ByteArray& b)
{
    std::swap(a.data, b.data);
    std::swap(a.count, b.count);
    std::swap(a.byteSize, b.byteSize);
    std::swap(a.owned, b.owned);
}

// At the top level the tool hands over its directory (ending in '/'); nested containers get the
// path of their entry.
bool isDirectoryArgument(const String& path)
{
    return path.isEmpty() || path.endsWith("/");
}
}

VocBlock::~VocBlock()
{
    deleteByteArray(payload);
}

u32 vocRateFromDivisor(u8 divisor)
{
    return u32(1000000.0f / float(256 - divisor));
}

u8 vocDivisorFromRate(u32 rate)
{
    return rate ? u8(256 - 1000000u / rate) : 0;
}

String withWavExtension(const String& path)
{
    i64 slash = path.lastIndexOf('/');
    i64 backslash = path.lastIndexOf('\\');
    i64 nameStart = (slash > backslash ? slash : backslash) + 1;
    i64 dot = path.lastIndexOf('.');
    String base = dot >= nameStart ? path.left(u64(dot)) : path;
    return base + ".wav";
}

ContainerVOC::ContainerVOC(const String& p, const ByteArray& fileBytes, const ByteArray& s, u32 rate)
    // The file's bytes and its samples (which lie in them) are views: whoever opened the sound
    // keeps them.
    : Container(p, withWavExtension(p), CONTAINER_VOC), raw(byteView(fileBytes.data, fileBytes.count)),
      samples(newByteView(s.data, s.count)),
      sampleRate(rate)
{
}

ContainerVOC::~ContainerVOC()
{
    blocks.clear();
    deleteByteArray(samples);
}

bool ContainerVOC::probe(const ByteArray& bytes)
{
    return bytes.count >= VOC_MAGIC_SIZE && bytes.data && memcmp(bytes.data, VOC_MAGIC, VOC_MAGIC_SIZE) == 0;
}

bool ContainerVOC::probe(const String&, const ByteArray& bytes)
{
    return probe(bytes);
}

Container* ContainerVOC::open(const String& name, const ByteArray& bytes)
{
    VocParse parsed;
    parseVoc(bytes, parsed);
    if (!parsed.samples || parsed.failed)
        return nullptr;
    ContainerVOC* voc = memNew<ContainerVOC>(name, bytes, *parsed.samples, parsed.rate);
    if (!voc)
        return nullptr;
    for (u32 i = 0; i < parsed.blocks.count; i++) {
        if (!voc->blocks.push(parsed.blocks[i])) {
            deleteContainer(voc);
            return nullptr;
        }
        parsed.blocks.items[i] = nullptr;
    }
    parsed.blocks.reset();
    // The check holds the bytes written back.
    const u64 reserve = u64(bytes.count) + (1 << 16);
    if (!reserveTransient(reserve)) {
        if (toolOptions().verbosity >= 1)
            printf(" -> '%s' stays raw: converting it would pass the archive's budget.\n", name.c_str());
        deleteContainer(voc);
        return nullptr;
    }
    // Only a file that rebuilds to its own bytes is converted; any other stays a plain entry
    // (several sound blocks, other codecs, a cut or overlong chain, other header values).
    ByteArray* rebuilt = voc->serialise(noProgress, 0);
    const bool same = rebuilt && sameBytes(rebuilt, &bytes);
    deleteByteArray(rebuilt);
    releaseTransient(reserve);
    if (!same) {
        if (toolOptions().verbosity >= 1)
            printf("VOC '%s' is kept as raw bytes; it would not convert back to the same bytes.\n", name.c_str());
        deleteContainer(voc);
        return nullptr;
    }
    return voc;
}

ByteArray* ContainerVOC::serialise(ProgressFunction progress, u32 depth)
{
    const u32 sampleCount = samples ? samples->count : 0;
    if (sampleCount > VOC_MAX_SAMPLES) {
        printError("ERROR: %u samples are too many for a VOC sound block!\n", sampleCount);
        return nullptr;
    }
    // Sized first, so the buffer is the result.
    u64 size = VOC_HEADER_SIZE;
    for (const VocBlock* block : blocks) {
        const u32 n = block->payload->count;
        size += block->type == VOC_END     ? 1
                : block->type == VOC_SOUND ? 6 + u64(sampleCount)
                : block->type == VOC_TEXT  ? 4 + u64(n ? n - 1 : 0)
                                           : 4 + u64(n);
    }
    if (size > 0xFFFFFFFFu)
        return nullptr;
    ByteBuffer b{u32(size)};
    b.write(reinterpret_cast<const u8*>(VOC_MAGIC), VOC_MAGIC_SIZE);
    b.writeU16(VOC_HEADER_SIZE);
    b.writeU16(0x010A);
    b.writeU16(0x1129);
    for (const VocBlock* block : blocks) {
        b.writeU8(block->type);
        const ByteArray& p = *block->payload;
        switch (block->type) {
        case VOC_END: break;
        case VOC_SOUND:
            writeU24(b, sampleCount + 2);
            b.writeU8(vocDivisorFromRate(sampleRate));
            b.writeU8(0);
            if (sampleCount)
                b.write(samples->data, sampleCount);
            break;
        case VOC_TEXT: {
            const u32 kept = p.count ? p.count - 1 : 0;
            writeU24(b, kept);
            if (kept)
                b.write(p.data, kept);
            break;
        }
        default:
            writeU24(b, p.count);
            if (p.count)
                b.write(p.data, p.count);
            break;
        }
    }
    progress(depth);
    if (!b.ok())
        return nullptr;
    return b.release();
}

void ContainerVOC::list(u32 indent)
{
    printIndent(indent);
    printf("VOC Audio (Mono, U8)\n");
    printIndent(indent);
    printf(" - Samples: %u\n", samples ? samples->count : 0);
    printIndent(indent);
    printf(" - Sample rate: %u Hz\n", sampleRate);
}

// The entry's own path is already safe; only its extension changes.
String ContainerVOC::extractedName(const String& entryPath) const
{
    return toolOptions().noConvert ? entryPath : withWavExtension(entryPath);
}

u32 ContainerVOC::extract(const String& directory, u32 indent)
{
    const ToolOptions& opt = toolOptions();
    String target;
    if (isDirectoryArgument(directory)) {
        if (!directory.isEmpty() && !makeExtractionDirectory(directory))
            return 0;
        target = joinPath(directory, getFileName(matchName()));
    } else {
        target = extractedName(directory);
    }
    // A name made short of memory is no file's: what was asked is named instead.
    if (outOfMemory("extracting", directory.c_str()))
        return 0;
    if (opt.verbosity >= 2) {
        printMarker('>', indent);
        printf(" %s\n", target.c_str());
    }
    ByteArray* wav = nullptr;
    if (!opt.noConvert) {
        WavData format;
        format.sampleRate = sampleRate;
        format.channels = 1;
        wav = writeWav(format, *samples);
    }
    if (!opt.noConvert && !wav) {
        reportUnmadeFile(target);
        return 0;
    }
    const ByteArray& out = opt.noConvert ? raw : *wav;
    const bool ok = writeExtractedFile(target, out.data, out.count);
    deleteByteArray(wav);
    return ok ? 1 : 0;
}

bool ContainerVOC::repack(const String& directory, const String&, u32 indent)
{
    const String file = isDirectoryArgument(directory) ? joinPath(directory, getFileName(matchName())) : directory;
    if (outOfMemory("repacking", directory.c_str()))
        return false;
    if (toolOptions().verbosity >= 1) {
        printMarker('<', indent);
        printf(" %s\n", file.c_str());
    }
    ByteArray* bytes = readRepackFile(file);
    if (!bytes)
        return false;
    const bool ok = file.endsWithNoCase(".wav") ? replaceFromWav(file, *bytes) : replaceFromVoc(file, *bytes);
    deleteByteArray(bytes);
    return ok;
}

bool ContainerVOC::replaceFromWav(const String& file, const ByteArray& bytes)
{
    WavData* wav = readWav(bytes);
    if (!wav)
        return false;
    // Refused before converting, so a long sound at a far rate is never resampled in vain.
    const bool fits = convertedFrameLimit(*wav, sampleRate) <= u64(VOC_MAX_SAMPLES) + 1;
    ByteArray* converted = fits ? convertWavToU8Mono(*wav, sampleRate) : nullptr;
    deleteWavData(wav);
    if (!fits || (converted && converted->count > VOC_MAX_SAMPLES)) {
        printError("ERROR: '%s' is too long for a VOC sound at %u Hz!\n", file.c_str(), sampleRate);
        deleteByteArray(converted);
        return false;
    }
    if (!converted) {
        printError("ERROR: Couldn't convert '%s' to %u Hz!\n", file.c_str(), sampleRate);
        return false;
    }
    deleteByteArray(samples);
    samples = converted;
    return true;
}

// A VOC file given back replaces the entry whole: its blocks and rate come with its samples,
// so the sound plays as it was given.
bool ContainerVOC::replaceFromVoc(const String& file, const ByteArray& bytes)
{
    Container* opened = probe(bytes) ? open(file, bytes) : nullptr;
    if (!opened) {
        printError("ERROR: '%s' is not a VOC sound that can be stored!\n", file.c_str());
        return false;
    }
    ContainerVOC* other = static_cast<ContainerVOC*>(opened);
    // The other sound looks into the caller's bytes: this one keeps a copy of them, and looks
    // there instead.
    ByteArray copy(bytes.data, bytes.count);
    if (bytes.count && !copy.data) {
        deleteContainer(other);
        return false;
    }
    moveView(other->samples, bytes.data, bytes.count, copy.data);
    for (VocBlock* block : other->blocks)
        moveView(block->payload, bytes.data, bytes.count, copy.data);
    swapArrays(raw, copy);
    std::swap(samples, other->samples);
    std::swap(sampleRate, other->sampleRate);
    std::swap(blocks.items, other->blocks.items);
    std::swap(blocks.aux, other->blocks.aux);
    std::swap(blocks.capacity, other->blocks.capacity);
    std::swap(blocks.count, other->blocks.count);
    deleteContainer(other);
    return true;
}

void ContainerVOC::hashContents(Md5& context, u32 indent)
{
    if (samples && samples->count)
        context.update(samples->data, samples->count);
    if (toolOptions().verbosity >= 2) {
        printIndent(indent);
        printf("VOC -> %llu\n", (unsigned long long)peekDigest(context));
    }
}
