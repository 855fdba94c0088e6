#include "gamedata/codecs/CodecRefPack.h"
#include "framework/log/Log.h"

#include <cstring>

namespace
{
constexpr u32 NONE = 0xFFFFFFFFu;
constexpr u32 MAX_CANDIDATES = 2048;
constexpr u32 MAX_DISTANCE = 131072;
constexpr u32 SHORT_DISTANCE = 1024;
constexpr u32 MEDIUM_DISTANCE = 16384;
constexpr u32 SHORT_LENGTH = 10;
constexpr u32 MEDIUM_LENGTH = 67;
constexpr u32 LONG_LENGTH = 1028;
// The longest command yields 1028 bytes from 4.
constexpr u64 MAX_RATIO = 257;
// Output room the decoder's word copies may need for one command: literals, the longest copy,
// and a word's overrun.
constexpr u64 FAST_ROOM = 3 + LONG_LENGTH + 16;

enum : u32
{
    KIND_STOP = 0,
    KIND_LITERALS = 1,
    KIND_MATCH = 2,
};

inline u32 hash3(const u8* b)
{
    return (u32(b[0]) << 8) ^ (u32(b[1]) << 4) ^ b[2];
}

// Count of equal bytes of a and b from `start`, at most `limit`.
inline u32 commonLength(const u8* a, const u8* b, u32 start, u32 limit)
{
    u32 k = start;
    while (k + 8 <= limit) {
        u64 x, y;
        memcpy(&x, a + k, 8);
        memcpy(&y, b + k, 8);
        if (x != y)
            return k + u32(__builtin_ctzll(x ^ y) >> 3);
        k += 8;
    }
    while (k < limit && a[k] == b[k])
        k++;
    return k;
}

// One word per position. From the search: the longest match each command class can use
// (short 4 bits, medium 7, long 11) and the nearest distance reaching each of those lengths
// (less one: 10, 14 and 17 bits). The choice of commands later replaces the low 22 bits by
// its decision for the position: kind 2 bits, leading literals 2, class 2, length 11, and a
// flag telling that the length is its class's longest, whose distance is then known.
constexpr u64 LOW_BITS = 0x3FFFFF;

inline u64 packSearch(u32 s, u32 m, u32 l, u32 ds, u32 dm, u32 dl)
{
    return u64(s) | u64(m) << 4 | u64(l) << 11 | u64(ds ? ds - 1 : 0) << 22 | u64(dm ? dm - 1 : 0) << 32 |
           u64(dl ? dl - 1 : 0) << 46;
}

inline u32 knownDistance(u64 v, u32 matchClass)
{
    if (matchClass == 0)
        return u32((v >> 22) & 0x3FF) + 1;
    if (matchClass == 1)
        return u32((v >> 32) & 0x3FFF) + 1;
    return u32((v >> 46) & 0x1FFFF) + 1;
}

struct Decision
{
    u32 kind;
    u32 literals;
    u32 matchClass;
    u32 length;
    u32 longest;
};

inline u32 packDecision(const Decision& d)
{
    return d.kind | d.literals << 2 | d.matchClass << 4 | d.length << 6 | d.longest << 17;
}

inline Decision unpackDecision(u64 v)
{
    return Decision{u32(v & 3), u32(v >> 2) & 3, u32(v >> 4) & 3, u32(v >> 6) & 0x7FF, u32(v >> 17) & 1};
}

struct TreeNode
{
    u32 smaller;
    u32 larger;
    u32 rank; // index among the positions of the same hash
};

constexpr u32 NODE_RING = 2 * MAX_DISTANCE;
constexpr u32 NODE_MASK = NODE_RING - 1;

struct Bucket
{
    u32 head;
    u32 count;
};

// The candidates of position p are the 2048 most recent earlier positions of the same 3-byte
// hash at most 131072 back; a candidate counts with its bytes in common with p (at most 1028,
// and only when that reaches 3). For each command class we want the longest count within the
// class's distance, and the nearest distance that reaches it.
//
// One binary tree per hash value, ordered by the positions' following bytes (cut at 1028, a
// string that runs into the end sorting before its extensions) and heap-ordered by position,
// newest at the root. Each new position becomes the root and splits the old tree along its
// search path. For every length, the nearest candidate reaching it lies on that path, which is
// met newest first and cut at the first node out of range (its subtree is older still). A node
// equal to the new one in all 1028 bytes is dropped: the newer one serves every later search.
bool searchMatches(const u8* b, u32 n, u32* chain, u64* info)
{
    if (n < 3)
        return true;
    // Only the last MAX_DISTANCE positions are ever visited, so the nodes live in a ring.
    TreeNode* nodes = static_cast<TreeNode*>(memAlloc(u64(NODE_RING) * sizeof(TreeNode)));
    Bucket* buckets = static_cast<Bucket*>(memAlloc(65536 * sizeof(Bucket)));
    if (!nodes || !buckets) {
        memFree(nodes);
        memFree(buckets);
        return false;
    }
    for (u32 h = 0; h < 65536; h++)
        buckets[h] = Bucket{NONE, 0};

    // Record lengths along the path, newest first, with their distances.
    u32 recordLength[LONG_LENGTH + 2];
    u32 recordDistance[LONG_LENGTH + 2];
    const u32 last = n - 3;
    // The previous position's longest match, moved on by one byte, still holds all but one of
    // its bytes: long runs need not be compared again from the start.
    u32 hintNode = NONE, hintLength = 0;
    for (u32 p = 0; p <= last; p++) {
        Bucket& bucket = buckets[hash3(b + p)];
        const u32 root = bucket.head;
        const u32 rank = bucket.count;
        chain[p] = root;
        bucket.head = p;
        bucket.count = rank + 1;
        TreeNode& fresh = nodes[p & NODE_MASK];
        fresh.rank = rank;
        const u32 oldestRank = rank > MAX_CANDIDATES ? rank - MAX_CANDIDATES : 0;
        const u32 oldest = p > MAX_DISTANCE ? p - MAX_DISTANCE : 0;
        const u32 limit = n - p < LONG_LENGTH ? n - p : LONG_LENGTH;

        u32* lessSlot = &fresh.smaller;
        u32* greaterSlot = &fresh.larger;
        u32 lessLength = 0, greaterLength = 0;
        u32 records = 0, best = 0;
        u32 node = root;
        for (;;) {
            if (node == NONE || node < oldest || nodes[node & NODE_MASK].rank < oldestRank) {
                *lessSlot = NONE;
                *greaterSlot = NONE;
                break;
            }
            TreeNode& t = nodes[node & NODE_MASK];
            u32 known = lessLength < greaterLength ? lessLength : greaterLength;
            if (node == hintNode && hintLength > known)
                known = hintLength;
            const u32 len = commonLength(b + node, b + p, known, limit);
            if (len > best) {
                best = len;
                recordLength[records] = len;
                recordDistance[records++] = p - node;
            }
            if (len == LONG_LENGTH) {
                *lessSlot = t.smaller;
                *greaterSlot = t.larger;
                break;
            }
            if (len < limit && b[node + len] < b[p + len]) {
                *lessSlot = node;
                lessSlot = &t.larger;
                lessLength = len;
                node = t.larger;
            } else {
                *greaterSlot = node;
                greaterSlot = &t.smaller;
                greaterLength = len;
                node = t.smaller;
            }
        }

        if (records) {
            hintNode = p + 1 - recordDistance[records - 1];
            hintLength = best - 1;
        } else {
            hintNode = NONE;
        }

        // Best length and its nearest distance within each class's reach.
        u32 s = 0, m = 0, l = 0, ds = 0, dm = 0, dl = 0;
        for (u32 r = 0; r < records; r++) {
            const u32 len = recordLength[r], d = recordDistance[r];
            if (len < 3)
                continue;
            if (d <= SHORT_DISTANCE && s < SHORT_LENGTH) {
                s = len < SHORT_LENGTH ? len : SHORT_LENGTH;
                ds = d;
            }
            if (d <= MEDIUM_DISTANCE && m < MEDIUM_LENGTH) {
                m = len < MEDIUM_LENGTH ? len : MEDIUM_LENGTH;
                dm = d;
            }
            l = len;
            dl = d;
        }
        info[p] = packSearch(s, m, l, ds, dm, dl);
    }
    memFree(nodes);
    memFree(buckets);
    return true;
}

// Option order: lower cost, then more input consumed, then a match over a literal run over a
// stop. Packed so that a smaller key is a better option; at equal keys the first one stays.
inline u64 optionKey(u32 cost, u32 consumed, u32 kind)
{
    return u64(cost) << 16 | u64(2047 - consumed) << 2 | (2 - kind);
}

// Costs of the positions ahead, which reach at most 1031 positions: a ring, its first entries
// mirrored past its end so a literal run reads them in one piece, and a sparse table over it
// for range minima. Range keys order by cost, then by the larger position.
class CostWindow
{
public:
    static constexpr u32 SIZE = 2048;
    static constexpr u32 MASK = SIZE - 1;
    static constexpr u32 MIRROR = 128;
    static constexpr u32 LEVELS = 11;

    void add(u32 x, u32 cost, u32 end)
    {
        const u32 slot = x & MASK;
        costs[slot] = cost;
        if (slot < MIRROR)
            costs[slot + SIZE] = cost;
        u64 v = u64(cost) << 32 | (0xFFFFFFFFu - x);
        table[0][slot] = v;
        for (u32 k = 1; k < LEVELS; k++) {
            const u32 y = x + (1u << (k - 1));
            if (y <= end) {
                const u64 w = table[k - 1][y & MASK];
                if (w < v)
                    v = w;
            }
            table[k][slot] = v;
        }
    }

    // costsFrom(x)[L] is the cost at x + L, for L up to MIRROR.
    const u32* costsFrom(u32 x) const { return costs + (x & MASK); }

    // The least cost in [a, b] and its position, the last one among equals.
    void minimum(u32 a, u32 b, u32& cost, u32& position) const
    {
        const u32 k = 31 - u32(__builtin_clz(b - a + 1));
        u64 v = table[k][a & MASK];
        const u64 w = table[k][(b - (1u << k) + 1) & MASK];
        if (w < v)
            v = w;
        cost = u32(v >> 32);
        position = 0xFFFFFFFFu - u32(v);
    }

private:
    u32 costs[SIZE + MIRROR];
    u64 table[LEVELS][SIZE];
};

struct MatchOption
{
    u32 cost; // NONE: no match here
    u32 length;
    u32 matchClass;
    u32 longest;
};

// The best match command at p over the three classes: by cost, then by length.
MatchOption bestMatchAt(const CostWindow& w, u32 p, u64 search)
{
    const u32 ends[3] = {u32(search & 0xF), u32(search >> 4) & 0x7F, u32(search >> 11) & 0x7FF};
    const u32 starts[3] = {3, ends[0] + 1 > 4 ? ends[0] + 1 : 4, ends[1] + 1 > 5 ? ends[1] + 1 : 5};
    MatchOption best{NONE, 0, 0, 0};
    u64 bestKey = ~u64(0);
    for (u32 c = 0; c < 3; c++) {
        if (ends[c] < starts[c])
            continue;
        u32 cost, position;
        w.minimum(p + starts[c], p + ends[c], cost, position);
        const u32 len = position - p;
        const u64 key = optionKey(cost + 2 + c, len, KIND_MATCH);
        if (key < bestKey) {
            bestKey = key;
            best = MatchOption{cost + 2 + c, len, c, len == ends[c] ? 1u : 0u};
        }
    }
    return best;
}

// From the end backwards: the cheapest encoding of the rest from each position. Writes each
// position's decision into the low bits of its word and returns the whole stream's size.
u32 chooseCommands(u32 n, u64* info)
{
    CostWindow* w = static_cast<CostWindow*>(memAlloc(sizeof(CostWindow)));
    if (!w)
        return 0;
    w->add(n, 1, n);
    MatchOption matchAt[4];
    for (MatchOption& m : matchAt)
        m.cost = NONE;
    u32 total = 1;
    for (u32 i = n; i-- > 0;) {
        const u32 left = n - i;
        MatchOption& own = matchAt[i & 3];
        own.cost = NONE;
        if (left >= 3 && ((info[i] >> 11) & 0x7FF) >= 3)
            own = bestMatchAt(*w, i, info[i]);

        u64 bestKey = ~u64(0);
        u32 bestCost = 0;
        Decision d{};
        if (left < 4) {
            bestKey = optionKey(left + 1, left, KIND_STOP);
            bestCost = left + 1;
            d = Decision{KIND_STOP, 0, 0, left, 0};
        }
        const u32* ahead = w->costsFrom(i);
        const u32 runs = left < 112 ? left : 112;
        u32 bestRun = 0, bestRunCost = NONE;
        for (u32 L = 4; L <= runs; L += 4) {
            const u32 c = ahead[L] + 1 + L;
            if (c <= bestRunCost) {
                bestRunCost = c;
                bestRun = L;
            }
        }
        if (bestRun) {
            const u64 key = optionKey(bestRunCost, bestRun, KIND_LITERALS);
            if (key < bestKey) {
                bestKey = key;
                bestCost = bestRunCost;
                d = Decision{KIND_LITERALS, 0, 0, bestRun, 0};
            }
        }
        for (u32 j = 0; j < 4 && j < left; j++) {
            const MatchOption& m = matchAt[(i + j) & 3];
            if (m.cost == NONE)
                continue;
            const u64 key = optionKey(m.cost + j, m.length + j, KIND_MATCH);
            if (key < bestKey) {
                bestKey = key;
                bestCost = m.cost + j;
                d = Decision{KIND_MATCH, j, m.matchClass, m.length, m.longest};
            }
        }
        info[i] = (info[i] & ~LOW_BITS) | packDecision(d);
        w->add(i, bestCost, n);
        total = bestCost;
    }
    memFree(w);
    return total;
}

// The nearest earlier position the command can reach with at least `length` equal bytes,
// walking the hash chain over the same candidates as the search; NONE if there is none.
u32 findDistance(const u8* b, u32 p, u32 length, u32 reach, const u32* chain)
{
    u32 c = chain[p];
    for (u32 seen = 0; c != NONE && seen < MAX_CANDIDATES; seen++, c = chain[c]) {
        const u32 distance = p - c;
        if (distance > reach)
            break;
        if (b[c] == b[p] && b[c + 1] == b[p + 1] && b[c + 2] == b[p + 2] && commonLength(b + c, b + p, 3, length) >= length)
            return distance;
    }
    return NONE;
}

// Writes into a block of the size the costs promised; `overrun` means they did not hold.
struct Writer
{
    u8* out;
    u32 capacity;
    u32 length = 0;
    bool overrun = false;
    void byte(u8 v)
    {
        if (length < capacity)
            out[length++] = v;
        else
            overrun = true;
    }
    void bytes(const u8* src, u32 count)
    {
        if (count > capacity - length) {
            overrun = true;
            return;
        }
        memcpy(out + length, src, count);
        length += count;
    }
};

bool emitCommands(const u8* b, u32 n, const u64* info, const u32* chain, Writer& w)
{
    static const u32 reach[3] = {SHORT_DISTANCE, MEDIUM_DISTANCE, MAX_DISTANCE};
    u32 i = 0;
    while (i < n) {
        const Decision d = unpackDecision(info[i]);
        if (d.kind == KIND_STOP) {
            w.byte(u8(0xFC | d.length));
            w.bytes(b + i, d.length);
            return true;
        }
        if (d.kind == KIND_LITERALS) {
            w.byte(u8(0xE0 + (d.length / 4 - 1)));
            w.bytes(b + i, d.length);
            i += d.length;
            continue;
        }
        const u32 p = i + d.literals;
        const u32 distance =
            d.longest ? knownDistance(info[p], d.matchClass) : findDistance(b, p, d.length, reach[d.matchClass], chain);
        if (distance == NONE)
            return false;
        const u32 o = distance - 1;
        const u32 len = d.length;
        if (d.matchClass == 0) {
            w.byte(u8(((o >> 8) & 3) << 5 | ((len - 3) & 7) << 2 | d.literals));
            w.byte(u8(o));
        } else if (d.matchClass == 1) {
            w.byte(u8(0x80 | ((len - 4) & 0x3F)));
            w.byte(u8(d.literals << 6 | ((o >> 8) & 0x3F)));
            w.byte(u8(o));
        } else {
            w.byte(u8(0xC0 | ((o >> 16) & 1) << 4 | (((len - 5) >> 8) & 3) << 2 | d.literals));
            w.byte(u8(o >> 8));
            w.byte(u8(o));
            w.byte(u8(len - 5));
        }
        w.bytes(b + i, d.literals);
        i = p + len;
    }
    w.byte(0xFC);
    return true;
}
}

ByteArray* CodecRefPack::compress(const ByteArray& in)
{
    const u32 n = in.count;
    // Costs are kept in 32 bits: a little over n.
    if (n > 0xF0000000u)
        return nullptr;
    const u8* b = in.data;
    u32* chain = static_cast<u32*>(memAlloc(u64(n) * 4 + 4));
    u64* info = static_cast<u64*>(memAlloc(u64(n) * 8 + 8));
    ByteArray* result = nullptr;
    if (info) {
        // The last positions start no match and get no search results.
        for (u32 i = n > 3 ? n - 2 : 0; i <= n; i++)
            info[i] = 0;
    }
    if (chain && info && searchMatches(b, n, chain, info)) {
        const u32 size = chooseCommands(n, info);
        ByteArray* out = size ? memNew<ByteArray>(size) : nullptr;
        if (out && out->data) {
            Writer w{out->data, size};
            if (emitCommands(b, n, info, chain, w) && !w.overrun && w.length == size) {
                result = out;
                out = nullptr;
            }
        }
        deleteByteArray(out);
    }
    memFree(chain);
    memFree(info);
    return result;
}

ByteArray* CodecRefPack::decompress(const ByteArray& in, u32 expectedSize)
{
    const u64 n = in.count;
    const u8* src = in.data;
    // Nothing can decode to more than MAX_RATIO times its size, so no larger claim is trusted,
    // and even that one only as a ceiling: the output grows as commands fill it.
    const u32 limit = u64(expectedSize) < n * MAX_RATIO ? expectedSize : u32(n * MAX_RATIO);
    u64 room = firstOutputSize(limit, n, 8);
    u8* dst = room ? static_cast<u8*>(memAlloc(room)) : nullptr;
    if (room && !dst)
        return nullptr;
    u64 ip = 0;
    u32 op = 0;
    bool stopped = false;
    bool broken = false;

    for (;;) {
        // Where every command surely fits, copy in whole words: a few bytes are written past
        // the command's end and overwritten by the next one.
        const u32 fastEnd = room >= FAST_ROOM ? u32(room - FAST_ROOM + 1) : 0;
        while (ip + 8 <= n && op < fastEnd) {
            const u8 b0 = src[ip];
            const u8* c = src + ip;
            u32 literals, length, distance, size;
            if (b0 < 0x80) {
                literals = b0 & 3;
                length = ((b0 >> 2) & 7) + 3;
                distance = (u32(b0 & 0x60) << 3) + c[1] + 1;
                size = 2;
            } else if (b0 < 0xC0) {
                literals = c[1] >> 6;
                length = (b0 & 0x3F) + 4;
                distance = (u32(c[1] & 0x3F) << 8) + c[2] + 1;
                size = 3;
            } else if (b0 < 0xE0) {
                literals = b0 & 3;
                length = (u32(b0 & 0x0C) << 6) + c[3] + 5;
                distance = (u32(b0 & 0x10) << 12) + (u32(c[1]) << 8) + c[2] + 1;
                size = 4;
            } else if (b0 < 0xFC) {
                literals = ((b0 & 0x1F) + 1) * 4;
                if (ip + 1 + literals > n)
                    break;
                // Whole 16-byte words where the input has them: a run is at most seven.
                if (ip + 1 + 112 <= n) {
                    for (u32 k = 0; k < literals; k += 16)
                        memcpy(dst + op + k, c + 1 + k, 16);
                } else {
                    memcpy(dst + op, c + 1, literals);
                }
                ip += 1 + literals;
                op += literals;
                continue;
            } else {
                break;
            }
            if (op + literals < distance)
                break;
            memcpy(dst + op, c + size, 4);
            ip += size + literals;
            op += literals;
            u8* to = dst + op;
            const u8* from = to - distance;
            op += length;
            if (distance >= 16) {
                for (u32 k = 0; k < length; k += 16)
                    memcpy(to + k, from + k, 16);
            } else if (distance >= 8) {
                for (u32 k = 0; k < length; k += 8)
                    memcpy(to + k, from + k, 8);
            } else if (distance == 1) {
                memset(to, *from, length);
            } else {
                // A short pattern: lay down a whole number of periods of at least 8 bytes, then
                // repeat it a word at a time.
                const u32 period = distance * ((7 + distance) / distance);
                u32 k = 0;
                for (; k < period && k < length; k++)
                    to[k] = from[k];
                for (; k < length; k += 8)
                    memcpy(to + k, to + k - period, 8);
            }
        }
        if (op >= limit || ip >= n)
            break;
        if (room < limit && op + FAST_ROOM > room) {
            // Room for any one command, so the word copies go on.
            const u64 grown = nextOutputSize(room, op + FAST_ROOM, limit, op, ip, n);
            u8* bigger = moveOutput(dst, op, grown);
            if (!bigger) {
                memFree(dst);
                return nullptr;
            }
            dst = bigger;
            room = grown;
            continue;
        }
        const u8 b0 = src[ip];
        u32 literals, length = 0, distance = 0, size;
        bool stop = false;
        if (b0 < 0x80) {
            size = 2;
        } else if (b0 < 0xC0) {
            size = 3;
        } else if (b0 < 0xE0) {
            size = 4;
        } else {
            size = 1;
        }
        if (ip + size > n) {
            broken = true;
            break;
        }
        const u8* c = src + ip;
        if (b0 < 0x80) {
            literals = b0 & 3;
            length = ((b0 >> 2) & 7) + 3;
            distance = (u32(b0 & 0x60) << 3) + c[1] + 1;
        } else if (b0 < 0xC0) {
            literals = c[1] >> 6;
            length = (b0 & 0x3F) + 4;
            distance = (u32(c[1] & 0x3F) << 8) + c[2] + 1;
        } else if (b0 < 0xE0) {
            literals = b0 & 3;
            length = (u32(b0 & 0x0C) << 6) + c[3] + 5;
            distance = (u32(b0 & 0x10) << 12) + (u32(c[1]) << 8) + c[2] + 1;
        } else if (b0 < 0xFC) {
            literals = ((b0 & 0x1F) + 1) * 4;
        } else {
            literals = b0 & 3;
            stop = true;
        }
        ip += size;

        if (literals) {
            u64 count = literals;
            if (count > n - ip)
                count = n - ip;
            if (count > limit - op)
                count = limit - op;
            if (count == 0) {
                broken = true;
                break;
            }
            memcpy(dst + op, src + ip, size_t(count));
            ip += count;
            op += u32(count);
            if (count < literals)
                break;
        }
        if (stop) {
            stopped = true;
            break;
        }
        if (length) {
            u32 count = length < limit - op ? length : limit - op;
            u32 k = 0;
            // Before the start of the output there are only zero bytes.
            while (k < count && op + k < distance)
                dst[op + k++] = 0;
            if (k < count) {
                u8* to = dst + op + k;
                const u8* from = to - distance;
                const u32 rest = count - k;
                if (distance >= rest)
                    memcpy(to, from, rest);
                else if (distance == 1)
                    memset(to, *from, rest);
                else
                    for (u32 q = 0; q < rest; q++)
                        to[q] = from[q];
            }
            op += count;
        }
    }

    if (broken || (!stopped && op != expectedSize))
        logWarn("RefPack", "Size mismatch! (produced %u, expected %u)", op, expectedSize);
    return takeOutput(dst, room, op);
}
