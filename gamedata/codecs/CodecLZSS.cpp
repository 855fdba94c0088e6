#include "gamedata/codecs/CodecLZSS.h"

#include <cstring>

namespace
{
constexpr u32 WINDOW_SIZE = 4096;
constexpr u32 WINDOW_MASK = WINDOW_SIZE - 1;
constexpr u32 LOOK_AHEAD = 17;
// The most bytes one token adds to the output.
constexpr u32 MAX_TOKEN_OUTPUT = 17;
constexpr i32 TREE_ROOT = 4096;
constexpr i32 UNUSED = 0;

inline u64 loadBigEndian(const u8* p)
{
    u64 v;
    memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

struct TreeNode
{
    i32 parent;
    i32 child[2]; // smaller, larger
};

constexpr int SMALLER = 0;
constexpr int LARGER = 1;

// The encoder's search tree over the window. Position 0 is never inserted, so 0 doubles as
// "none"; like the original, the removal steps still write node 0's parent field and later
// read it back when position 0 leaves the window. Stored archives were made that way, so
// those writes are kept.
struct LzssEncoder
{
    // The first LOOK_AHEAD bytes are mirrored past the end so a comparison never wraps.
    u8 window[WINDOW_SIZE + LOOK_AHEAD];
    TreeNode tree[WINDOW_SIZE + 1];

    void put(u32 pos, u8 v)
    {
        window[pos] = v;
        if (pos < LOOK_AHEAD)
            window[pos + WINDOW_SIZE] = v;
    }

    void contractNode(i32 oldNode, i32 newNode)
    {
        tree[newNode].parent = tree[oldNode].parent;
        TreeNode& parent = tree[tree[oldNode].parent];
        if (parent.child[LARGER] == oldNode)
            parent.child[LARGER] = newNode;
        else
            parent.child[SMALLER] = newNode;
        tree[oldNode].parent = UNUSED;
    }

    void replaceNode(i32 oldNode, i32 newNode)
    {
        TreeNode& parent = tree[tree[oldNode].parent];
        if (parent.child[SMALLER] == oldNode)
            parent.child[SMALLER] = newNode;
        else
            parent.child[LARGER] = newNode;
        tree[newNode] = tree[oldNode];
        tree[tree[newNode].child[SMALLER]].parent = newNode;
        tree[tree[newNode].child[LARGER]].parent = newNode;
        tree[oldNode].parent = UNUSED;
    }

    void deleteString(i32 p)
    {
        if (tree[p].parent == UNUSED)
            return;
        if (tree[p].child[LARGER] == UNUSED) {
            contractNode(p, tree[p].child[SMALLER]);
        } else if (tree[p].child[SMALLER] == UNUSED) {
            contractNode(p, tree[p].child[LARGER]);
        } else {
            i32 next = tree[p].child[SMALLER];
            // The step bound only matters for a tree that the quirks above had tangled.
            for (u32 steps = 0; tree[next].child[LARGER] != UNUSED && steps <= WINDOW_SIZE; steps++)
                next = tree[next].child[LARGER];
            if (tree[next].parent != UNUSED)
                contractNode(next, tree[next].child[SMALLER]);
            replaceNode(p, next);
        }
    }

    // Inserts the string at newNode and returns the longest match found (0 for position 0).
    u32 addString(i32 newNode, i32& matchPosition)
    {
        if (newNode == 0)
            return 0;
        // Strings compare as big-endian words: the first differing byte decides.
        const u8* fresh = window + newNode;
        const u64 head = loadBigEndian(fresh), middle = loadBigEndian(fresh + 8);
        const u8 tail = fresh[16];
        i32 testNode = tree[TREE_ROOT].child[LARGER];
        u64 w0 = loadBigEndian(window + testNode);
        u32 matchLength = 0;
        i32 position = matchPosition;
        for (u32 steps = 0; steps <= WINDOW_SIZE; steps++) {
            // Both children's first words are fetched before the way is known, which keeps
            // the walk's chain of dependent loads short.
            const TreeNode& node = tree[testNode];
            const i32 smaller = node.child[SMALLER], larger = node.child[LARGER];
            const u64 smallerWord = loadBigEndian(window + smaller);
            const u64 largerWord = loadBigEndian(window + larger);
            const u8* test = window + testNode;
            u32 i;
            bool notBelow;
            if (w0 != head) {
                i = u32(__builtin_clzll(w0 ^ head) >> 3);
                notBelow = head > w0;
            } else {
                const u64 w1 = loadBigEndian(test + 8);
                if (w1 != middle) {
                    i = 8 + u32(__builtin_clzll(w1 ^ middle) >> 3);
                    notBelow = middle > w1;
                } else {
                    i = tail != test[16] ? 16 : LOOK_AHEAD;
                    notBelow = tail >= test[16];
                }
            }
            if (i == LOOK_AHEAD) {
                matchPosition = testNode;
                replaceNode(testNode, newNode);
                return LOOK_AHEAD;
            }
            // Ties go to the node met later.
            const bool longer = i >= matchLength;
            matchLength = longer ? i : matchLength;
            position = longer ? testNode : position;
            const i32 next = notBelow ? larger : smaller;
            if (next == UNUSED) {
                tree[testNode].child[notBelow ? LARGER : SMALLER] = newNode;
                tree[newNode].parent = testNode;
                tree[newNode].child[LARGER] = UNUSED;
                tree[newNode].child[SMALLER] = UNUSED;
                matchPosition = position;
                return matchLength;
            }
            testNode = next;
            w0 = notBelow ? largerWord : smallerWord;
        }
        matchPosition = position;
        return matchLength;
    }
};

struct BitWriter
{
    u8* out;
    u64 length = 0;
    u32 pending = 0;
    u32 pendingBits = 0;

    void write(u32 value, u32 bits)
    {
        pending = (pending << bits) | value;
        pendingBits += bits;
        while (pendingBits >= 8) {
            pendingBits -= 8;
            out[length++] = u8(pending >> pendingBits);
        }
        pending &= (1u << pendingBits) - 1;
    }

    void flush()
    {
        if (pendingBits)
            out[length++] = u8(pending << (8 - pendingBits));
        pendingBits = 0;
        pending = 0;
    }
};

struct BitReader
{
    const u8* data;
    u64 bitPosition = 0;
    u64 totalBits;

    bool has(u32 bits) const { return bitPosition + bits <= totalBits; }

    // Only called after has(bits); at most 12 bits.
    u32 read(u32 bits)
    {
        u64 byte = bitPosition >> 3;
        u32 shift = u32(bitPosition & 7);
        u32 window = u32(data[byte]) << 16;
        u64 lastByte = (bitPosition + bits - 1) >> 3;
        if (lastByte > byte)
            window |= u32(data[byte + 1]) << 8;
        if (lastByte > byte + 1)
            window |= data[byte + 2];
        bitPosition += bits;
        return (window >> (24 - shift - bits)) & ((1u << bits) - 1);
    }
};
}

ByteArray* CodecLZSS::compress(const ByteArray& in)
{
    const u64 n = in.count;
    // Nine bits per byte at most, plus the end marker.
    const u64 capacity = (n * 9 + 20) / 8 + 16;
    if (capacity > UINT32_MAX)
        return nullptr;
    LzssEncoder* enc = static_cast<LzssEncoder*>(allocZeroed(sizeof(LzssEncoder)));
    u8* buffer = static_cast<u8*>(memAlloc(capacity));
    if (!enc || !buffer) {
        memFree(enc);
        memFree(buffer);
        return nullptr;
    }
    BitWriter bits{buffer};
    const u8* src = in.data;
    u64 next = 0;

    u32 lookAhead = 0;
    while (lookAhead < LOOK_AHEAD && next < n)
        enc->put(1 + lookAhead++, src[next++]);
    enc->tree[TREE_ROOT].child[LARGER] = 1;
    enc->tree[1].parent = TREE_ROOT;
    i32 current = 1;
    u32 matchLength = 0;
    i32 matchPosition = 0;

    while (lookAhead > 0) {
        if (matchLength > lookAhead)
            matchLength = lookAhead;
        // A match at position 0 would read as the end marker; only a tangled tree could offer one.
        if (matchPosition == 0 && matchLength > 1)
            matchLength = 1;
        u32 replaceCount;
        if (matchLength <= 1) {
            bits.write(0x100 | enc->window[current], 9);
            replaceCount = 1;
        } else {
            bits.write((u32(matchPosition) << 4) | (matchLength - 2), 17);
            replaceCount = matchLength;
        }
        for (u32 k = 0; k < replaceCount; k++) {
            u32 leaving = (u32(current) + LOOK_AHEAD) & WINDOW_MASK;
            enc->deleteString(i32(leaving));
            if (next < n)
                enc->put(leaving, src[next++]);
            else
                lookAhead--;
            current = i32((u32(current) + 1) & WINDOW_MASK);
            if (lookAhead)
                matchLength = enc->addString(current, matchPosition);
        }
    }
    bits.write(0, 13);
    bits.flush();

    ByteArray* result = memNew<ByteArray>(buffer, u32(bits.length));
    memFree(buffer);
    memFree(enc);
    return result;
}

ByteArray* CodecLZSS::decompress(const ByteArray& in, u32 expectedSize)
{
    // Every token yields at most one byte per bit, so a longer claim cannot be met; a shorter one
    // is still only a ceiling: the output grows as tokens fill it.
    if (u64(expectedSize) > u64(in.count) * 8)
        return nullptr;
    u64 capacity = firstOutputSize(expectedSize, in.count, 4);
    u8* dst = capacity ? static_cast<u8*>(memAlloc(capacity)) : nullptr;
    if (capacity && !dst)
        return nullptr;
    u8 window[WINDOW_SIZE];
    memset(window, 0, sizeof(window));
    u32 position = 1;
    u32 produced = 0;
    const u8* src = in.data;
    BitReader bits{src, 0, u64(in.count) * 8};

    // Bytes past the expected size would be dropped anyway, so decoding ends once it is met.
    // A token that needs bits past the end of the input ends the stream like the end marker.
    for (;;) {
        // While eight input bytes remain and any token fits short of the buffer's end and of the
        // expected size, tokens are read from one word without checks, and copies come from the
        // output itself, which holds the window's bytes: the window is laid again on leaving.
        const u64 end = capacity < expectedSize ? capacity : expectedSize;
        const u64 wordBits = in.count >= 8 ? (u64(in.count) - 7) * 8 : 0;
        const u32 fastFrom = produced;
        bool ended = false;
        while (u64(produced) + MAX_TOKEN_OUTPUT <= end && bits.bitPosition < wordBits) {
            const u64 word = loadBigEndian(src + (bits.bitPosition >> 3)) << (bits.bitPosition & 7);
            if (word >> 63) {
                dst[produced++] = u8(word >> 55);
                bits.bitPosition += 9;
                continue;
            }
            const u32 source = u32(word >> 51) & WINDOW_MASK;
            if (source == 0) {
                ended = true;
                break;
            }
            const u32 length = (u32(word >> 47) & 15) + 2;
            bits.bitPosition += 17;
            // The window position of output byte i is i + 1; a source that far back reads the
            // byte produced that many bytes ago, or a zero from before the first.
            const u32 distance = ((produced - source) & WINDOW_MASK) + 1;
            u8* to = dst + produced;
            if (distance > produced) {
                for (u32 k = 0; k < length; k++)
                    to[k] = produced + k >= distance ? dst[produced + k - distance] : 0;
            } else if (distance >= length) {
                memcpy(to, to - distance, length);
            } else if (distance == 1) {
                memset(to, to[-1], length);
            } else {
                const u8* from = to - distance;
                for (u32 k = 0; k < length; k++)
                    to[k] = from[k];
            }
            produced += length;
        }
        for (u32 i = produced - fastFrom > WINDOW_SIZE ? produced - WINDOW_SIZE : fastFrom; i < produced; i++)
            window[(i + 1) & WINDOW_MASK] = dst[i];
        position = (produced + 1) & WINDOW_MASK;
        if (ended || produced >= expectedSize)
            break;
        if (capacity - produced < MAX_TOKEN_OUTPUT && capacity < expectedSize) {
            const u64 grown = nextOutputSize(capacity, produced + MAX_TOKEN_OUTPUT, expectedSize, produced,
                                             bits.bitPosition >> 3, in.count);
            u8* bigger = moveOutput(dst, produced, grown);
            if (!bigger)
                break;
            dst = bigger;
            capacity = grown;
            continue;
        }
        if (!bits.has(1))
            break;
        if (bits.read(1)) {
            if (!bits.has(8))
                break;
            u8 c = u8(bits.read(8));
            window[position] = c;
            position = (position + 1) & WINDOW_MASK;
            dst[produced++] = c;
            continue;
        }
        if (!bits.has(12))
            break;
        u32 source = bits.read(12);
        if (source == 0 || !bits.has(4))
            break;
        u32 length = bits.read(4) + 2;
        for (u32 k = 0; k < length; k++) {
            u8 c = window[(source + k) & WINDOW_MASK];
            window[position] = c;
            position = (position + 1) & WINDOW_MASK;
            if (produced < expectedSize)
                dst[produced++] = c;
        }
    }
    if (produced != expectedSize) {
        memFree(dst);
        return nullptr;
    }
    return takeOutput(dst, capacity, produced);
}
