#include "tool/convert/ChunkCompression.h"
#include "gamedata/codecs/CodecLZWX.h"
#include "gamedata/codecs/CodecRefPack.h"
#include "framework/io/Md5.h"
#include "tool/containers/Container.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
constexpr u32 MAX_DECODED_SIZE = 0x4000000;

// RefPack gives what it produced even when that falls short; the caller compares the size.
ByteArray* refPackDecode(const ByteArray& stream, u32 size)
{
    CodecRefPack codec;
    return codec.decompress(stream, size);
}

ByteArray* refPackEncode(const ByteArray& body)
{
    CodecRefPack codec;
    return codec.compress(body);
}

ByteArray* lzwxDecode(const ByteArray& stream, u32 size)
{
    return decompressLZWX(stream, size);
}

ByteArray* lzwxEncode(const ByteArray& body)
{
    return compressLZWX(body);
}

u32 bigEndianAt(const u8* p, u32 n)
{
    u32 v = 0;
    for (u32 i = 0; i < n; i++)
        v = (v << 8) | p[i];
    return v;
}

u32 littleEndianAt(const u8* p)
{
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}

// A stream can only produce so much: the bound keeps a forged size field from making a large
// allocation out of a few bytes. A 4-byte RefPack command copies at most 1028 bytes plus three
// literals.
bool sizeIsReachable(u8 code, u64 streamLength, u64 size)
{
    if (code == COMPRESSION_LZWX)
        return size <= lzwxMaxDecodedSize(streamLength);
    return size <= (streamLength / 4 + 1) * 1031 + 3;
}

void digestOf(const ByteArray& bytes, u8 digest[16])
{
    Md5 md5;
    if (bytes.count)
        md5.update(bytes.data, bytes.count);
    md5.final(digest);
}

ByteArray* withHeader(const u8* header, u32 headerLength, const ByteArray* stream)
{
    if (!stream)
        return nullptr;
    ByteArray* out = memNew<ByteArray>(headerLength + stream->count);
    if (!out || out->count != headerLength + stream->count) {
        deleteByteArray(out);
        return nullptr;
    }
    memcpy(out->data, header, headerLength);
    if (stream->count)
        memcpy(out->data + headerLength, stream->data, stream->count);
    return out;
}
}

const char* compressionName(u8 code)
{
    switch (code) {
    case COMPRESSION_REFPACK: return "RefPack";
    case COMPRESSION_REFPACK_4: return "RefPack_4";
    case COMPRESSION_LZWX: return "LZWX";
    default: return "";
    }
}

u8 compressionCode(const String& name)
{
    for (u8 code : {COMPRESSION_REFPACK, COMPRESSION_REFPACK_4, COMPRESSION_LZWX})
        if (name.equals(compressionName(code)))
            return code;
    return COMPRESSION_NONE;
}

u8 detectChunkCompression(const ByteArray& body)
{
    if (body.count < 6 || !body.data)
        return COMPRESSION_NONE;
    const u8* b = body.data;
    if (b[0] == 0x10 && b[1] == 0xFB)
        return COMPRESSION_REFPACK;
    if (b[0] == 0x90 && b[1] == 0xFB)
        return COMPRESSION_REFPACK_4;
    if (b[0] == 'L' && b[1] == 'Z')
        return COMPRESSION_LZWX;
    return COMPRESSION_NONE;
}

ByteArray* decompressChunkBody(const ByteArray& body, u8 code)
{
    if (body.count < 6 || !body.data)
        return nullptr;
    const u8* b = body.data;
    u32 size = 0, headerLength = 6;
    switch (code) {
    case COMPRESSION_REFPACK:
        size = bigEndianAt(b + 2, 3);
        headerLength = 5;
        if (size == 0)
            return nullptr;
        break;
    case COMPRESSION_REFPACK_4:
        size = bigEndianAt(b + 2, 4);
        break;
    case COMPRESSION_LZWX:
        size = littleEndianAt(b + 2);
        break;
    default: return nullptr;
    }
    if (code != COMPRESSION_REFPACK && (size == 0 || size > MAX_DECODED_SIZE))
        return nullptr;
    const u32 streamLength = body.count - headerLength;
    if (!sizeIsReachable(code, streamLength, size))
        return nullptr;
    ByteArray stream(b + headerLength, streamLength);
    ByteArray* decoded = code == COMPRESSION_LZWX ? lzwxDecode(stream, size) : refPackDecode(stream, size);
    if (decoded && decoded->count != size) {
        deleteByteArray(decoded);
        return nullptr;
    }
    return decoded;
}

ByteArray* encodeChunkBody(const ByteArray& body, u8 code, CompressionFailure& failure)
{
    failure = COMPRESSION_OK;
    u8 header[6];
    u32 headerLength = 6;
    const u32 n = body.count;
    switch (code) {
    case COMPRESSION_REFPACK:
        if (n > 0xFFFFFF) {
            failure = COMPRESSION_TOO_LARGE;
            return nullptr;
        }
        header[0] = 0x10;
        header[1] = 0xFB;
        header[2] = u8(n >> 16);
        header[3] = u8(n >> 8);
        header[4] = u8(n);
        headerLength = 5;
        break;
    case COMPRESSION_REFPACK_4:
        header[0] = 0x90;
        header[1] = 0xFB;
        for (u32 i = 0; i < 4; i++)
            header[2 + i] = u8(n >> (24 - 8 * i));
        break;
    case COMPRESSION_LZWX:
        header[0] = 'L';
        header[1] = 'Z';
        for (u32 i = 0; i < 4; i++)
            header[2 + i] = u8(n >> (8 * i));
        break;
    default: failure = COMPRESSION_UNKNOWN; return nullptr;
    }
    ByteArray* stream = code == COMPRESSION_LZWX ? lzwxEncode(body) : refPackEncode(body);
    ByteArray* out = withHeader(header, headerLength, stream);
    deleteByteArray(stream);
    if (!out)
        failure = COMPRESSION_FAILED;
    return out;
}

ByteArray* compressChunkBody(const ByteArray& body, const String& name)
{
    CompressionFailure failure;
    const u8 code = compressionCode(name);
    ByteArray* out = encodeChunkBody(body, code, failure);
    if (failure == COMPRESSION_UNKNOWN)
        printError("ERROR: IFF chunk compression '%s' cannot be written yet.\n", name.c_str());
    else if (failure == COMPRESSION_TOO_LARGE)
        printError("ERROR: IFF RefPack chunk is too large for 24-bit size header.\n");
    return out;
}

StoredStreams::~StoredStreams()
{
    memFree(entries);
    memFree(order);
}

u64 StoredStreams::decodedGrowth() const
{
    u64 growth = 0;
    for (u32 i = 0; i < count; i++) {
        if (entries[i].decodedLength > entries[i].length)
            growth += entries[i].decodedLength - entries[i].length;
    }
    return growth;
}

bool StoredStreams::add(u8 code, u32 decodedLength, u64 offset, u32 length)
{
    if (count == capacity) {
        const u32 grown = capacity ? capacity * 2 : 8;
        Entry* more = grown > capacity ? static_cast<Entry*>(memAlloc(u64(grown) * sizeof(Entry))) : nullptr;
        if (!more)
            return false;
        if (count)
            memcpy(more, entries, u64(count) * sizeof(Entry));
        memFree(entries);
        entries = more;
        capacity = grown;
    }
    Entry& e = entries[count++];
    memset(e.digest, 0, sizeof(e.digest));
    e.decodedLength = decodedLength;
    e.code = code;
    e.taken = 0;
    e.offset = offset;
    e.length = length;
    memFree(order);
    order = nullptr;
    return true;
}

void StoredStreams::rewind()
{
    next = 0;
    for (u32 i = 0; i < count; i++)
        entries[i].taken = 0;
}

bool StoredStreams::decodesTo(const Entry& e, u8 code, const ByteArray& plain, const ByteArray& file) const
{
    if (e.code != code || e.decodedLength != plain.count || e.offset > file.count ||
        e.length > file.count - e.offset)
        return false;
    const ByteArray view = byteView(file.data + e.offset, e.length);
    ByteArray* decoded = decompressChunkBody(view, code);
    const bool same = decoded && sameBytes(decoded, &plain);
    deleteByteArray(decoded);
    return same;
}

namespace
{
template <typename E>
int compareKeys(const E& a, const E& b)
{
    if (a.code != b.code)
        return a.code < b.code ? -1 : 1;
    if (a.decodedLength != b.decodedLength)
        return a.decodedLength < b.decodedLength ? -1 : 1;
    return memcmp(a.digest, b.digest, 16);
}
}

// The digests need every stored body decoded once: that is left until a lookup by content
// needs them, which an unedited document never does.
bool StoredStreams::makeOrder(const ByteArray& file)
{
    order = static_cast<u32*>(memAlloc(u64(count) * sizeof(u32)));
    if (!order)
        return false;
    for (u32 i = 0; i < count; i++) {
        Entry& e = entries[i];
        order[i] = i;
        if (e.offset > file.count || e.length > file.count - e.offset)
            continue;
        const ByteArray view = byteView(file.data + e.offset, e.length);
        ByteArray* decoded = decompressChunkBody(view, e.code);
        if (decoded)
            digestOf(*decoded, e.digest);
        deleteByteArray(decoded);
    }
    // Equal keys stay in the order recorded: that is the order a pass hands them out in.
    std::sort(order, order + count, [this](u32 a, u32 b) {
        const int keys = compareKeys(entries[a], entries[b]);
        return keys != 0 ? keys < 0 : a < b;
    });
    return true;
}

bool StoredStreams::find(u8 code, const ByteArray& plain, const ByteArray& file, const u8*& stored, u32& length)
{
    if (count == 0 || code == COMPRESSION_NONE)
        return false;
    // A pass over an unedited document meets the chunks in the order they were recorded.
    u32 found = count;
    if (next < count && decodesTo(entries[next], code, plain, file)) {
        found = next;
    } else {
        if (!order && !makeOrder(file))
            return false;
        Entry key{};
        key.code = code;
        key.decodedLength = plain.count;
        digestOf(plain, key.digest);
        // In the search the index `count` stands for the key.
        const auto less = [this, &key](u32 a, u32 b) {
            const Entry& x = a == count ? key : entries[a];
            const Entry& y = b == count ? key : entries[b];
            return compareKeys(x, y) < 0;
        };
        u32* first = std::lower_bound(order, order + count, count, less);
        u32* last = std::upper_bound(first, order + count, count, less);
        if (first == last)
            return false;
        // The next unused one of the run, then the others: a body is given only when it
        // decodes to the plain bytes, so not even a digest collision can write the wrong
        // content.
        Entry& head = entries[*first];
        const u64 runLength = u64(last - first);
        const u64 start = head.taken < runLength ? head.taken : runLength - 1;
        for (u64 k = 0; k < runLength && found == count; k++) {
            const u32 candidate = first[(start + k) % runLength];
            if (decodesTo(entries[candidate], code, plain, file))
                found = candidate;
        }
        if (found == count)
            return false;
        if (head.taken < runLength)
            head.taken++;
    }
    next = found + 1;
    stored = file.data + entries[found].offset;
    length = entries[found].length;
    return true;
}
