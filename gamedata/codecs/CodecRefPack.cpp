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

inline u32 packLengths(u32 s, u32 m, u32 l)
{
    return s | (m << 4) | (l << 11);
}

struct Decision
{
    u32 kind;
    u32 literals;
    u32 matchClass;
    u32 length;
};

inline u32 packDecision(const Decision& d)
{
    return d.kind | (d.literals << 2) | (d.matchClass << 4) | (d.length << 6);
}

inline Decision unpackDecision(u32 v)
{
    return Decision{v & 3, (v >> 2) & 3, (v >> 4) & 3, v >> 6};
}

// Per position: the longest match each of the three match commands could use, taken over the
// same candidates as a walk of the 3-byte hash chain would see (the 2048 most recent positions
// of the same hash, at most 131072 back). One binary tree per hash value, ordered by the
// suffixes (cut at 1028 bytes, a shorter one sorting first) and heap-ordered by position, finds
// them exactly: for every length, the nearest position reaching it lies on the new position's
// search path, which is walked newest first and cut at the first node out of range.
bool findMatchLengths(const u8* b, u32 n, u32* chain, u32* lengths)
{
    if (n < 3)
        return true;
    const u32 last = n - 3;
    u32* nextSame = static_cast<u32*>(memAlloc(u64(n) * 4));
    u32* smaller = static_cast<u32*>(memAlloc(u64(n) * 4));
    u32* larger = static_cast<u32*>(memAlloc(u64(n) * 4));
    u32* tables = static_cast<u32*>(memAlloc(u64(65536) * 4 * 4));
    bool ok = nextSame && smaller && larger && tables;
    if (ok) {
        u32* head = tables;
        u32* first = tables + 65536;
        u32* lag = tables + 2 * 65536;
        u32* count = tables + 3 * 65536;
        memset(head, 0xFF, 65536 * 4);
        memset(count, 0, 65536 * 4);
        for (u32 p = 0; p <= last; p++) {
            const u32 h = hash3(b + p);
            const u32 root = head[h];
            chain[p] = root;
            const u32 rank = count[h];
            u32 bound = p > MAX_DISTANCE ? p - MAX_DISTANCE : 0;
            if (rank >= MAX_CANDIDATES) {
                lag[h] = rank == MAX_CANDIDATES ? first[h] : nextSame[lag[h]];
                if (lag[h] > bound)
                    bound = lag[h];
            }
            if (rank == 0)
                first[h] = p;
            else
                nextSame[root] = p;
            head[h] = p;
            count[h] = rank + 1;

            const u32 limit = n - p < LONG_LENGTH ? n - p : LONG_LENGTH;
            u32* lessSlot = &smaller[p];
            u32* greaterSlot = &larger[p];
            u32 lessLength = 0, greaterLength = 0;
            u32 shortBest = 0, mediumBest = 0, longBest = 0;
            u32 node = root;
            for (;;) {
                if (node == NONE || node < bound) {
                    *lessSlot = NONE;
                    *greaterSlot = NONE;
                    break;
                }
                const u32 len = commonLength(b + node, b + p, lessLength < greaterLength ? lessLength : greaterLength, limit);
                const u32 distance = p - node;
                if (len > longBest)
                    longBest = len;
                if (distance <= MEDIUM_DISTANCE && len > mediumBest)
                    mediumBest = len;
                if (distance <= SHORT_DISTANCE && len > shortBest)
                    shortBest = len;
                if (len == LONG_LENGTH) {
                    // Same key: the newer position takes the older one's place for good.
                    *lessSlot = smaller[node];
                    *greaterSlot = larger[node];
                    break;
                }
                if (len < limit && b[node + len] < b[p + len]) {
                    *lessSlot = node;
                    lessSlot = &larger[node];
                    lessLength = len;
                    node = larger[node];
                } else {
                    *greaterSlot = node;
                    greaterSlot = &smaller[node];
                    greaterLength = len;
                    node = smaller[node];
                }
            }
            const u32 s = shortBest >= 3 ? (shortBest < SHORT_LENGTH ? shortBest : SHORT_LENGTH) : 0;
            const u32 m = mediumBest >= 3 ? (mediumBest < MEDIUM_LENGTH ? mediumBest : MEDIUM_LENGTH) : 0;
            const u32 l = longBest >= 3 ? longBest : 0;
            lengths[p] = packLengths(s, m, l);
        }
    }
    memFree(nextSame);
    memFree(smaller);
    memFree(larger);
    memFree(tables);
    return ok;
}

struct Option
{
    u32 cost;
    u32 consumed;
    u32 rank; // 0 stop, 1 literal run, 2 match
    Decision decision;
};

// Lower cost wins; at equal cost more input consumed; then a match over a literal run over a
// stop. Anything else keeps the option found first.
inline bool better(const Option& a, const Option& b)
{
    if (a.cost != b.cost)
        return a.cost < b.cost;
    if (a.consumed != b.consumed)
        return a.consumed > b.consumed;
    return a.rank > b.rank;
}

// Range minimum over the costs ahead of the current position, which only ever reach 1031
// positions ahead: a sparse table over a ring. Keys order by cost, then by the larger position.
class CostWindow
{
public:
    static constexpr u32 SIZE = 2048;
    static constexpr u32 MASK = SIZE - 1;
    static constexpr u32 LEVELS = 11;

    void add(u32 x, u32 cost, u32 end)
    {
        u64 key = (u64(cost) << 32) | (0xFFFFFFFFu - x);
        costs[x & MASK] = cost;
        table[0][x & MASK] = key;
        for (u32 k = 1; k < LEVELS; k++) {
            u32 y = x + (1u << (k - 1));
            u64 v = table[k - 1][x & MASK];
            if (y <= end) {
                u64 w = table[k - 1][y & MASK];
                if (w < v)
                    v = w;
            }
            table[k][x & MASK] = v;
        }
    }

    u32 cost(u32 x) const { return costs[x & MASK]; }

    // Position of the least cost in [a, b], the last one among equals.
    u64 minimum(u32 a, u32 b) const
    {
        u32 k = 31 - u32(__builtin_clz(b - a + 1));
        u64 v = table[k][a & MASK];
        u64 w = table[k][(b - (1u << k) + 1) & MASK];
        return w < v ? w : v;
    }

private:
    u32 costs[SIZE];
    u64 table[LEVELS][SIZE];
};

inline u32 keyCost(u64 key)
{
    return u32(key >> 32);
}

inline u32 keyPosition(u64 key)
{
    return 0xFFFFFFFFu - u32(key);
}

// Best match command at p over the three classes, by cost then length.
Option bestMatchAt(const CostWindow& w, u32 p, u32 packed)
{
    const u32 s = packed & 0xF;
    const u32 m = (packed >> 4) & 0x7F;
    const u32 l = packed >> 11;
    Option best{NONE, 0, KIND_MATCH, {}};
    const u32 starts[3] = {3, s + 1 > 4 ? s + 1 : 4, m + 1 > 5 ? m + 1 : 5};
    const u32 ends[3] = {s, m, l};
    for (u32 c = 0; c < 3; c++) {
        if (ends[c] < starts[c])
            continue;
        u64 key = w.minimum(p + starts[c], p + ends[c]);
        u32 len = keyPosition(key) - p;
        Option o{keyCost(key) + 2 + c, len, KIND_MATCH, {KIND_MATCH, 0, c, len}};
        if (better(o, best))
            best = o;
    }
    return best;
}

// Fills decisions (over the packed match lengths, which are read first) and returns cost[0].
u32 chooseCommands(u32 n, u32* table)
{
    CostWindow* w = static_cast<CostWindow*>(memAlloc(sizeof(CostWindow)));
    if (!w)
        return 0;
    w->add(n, 1, n);
    Option matchAt[4];
    for (u32 q = 0; q < 4; q++)
        matchAt[q].cost = NONE;
    u32 total = 1;
    for (u32 i = n; i-- > 0;) {
        const u32 left = n - i;
        Option& own = matchAt[i & 3];
        own.cost = NONE;
        if (left >= 3 && (table[i] >> 11) >= 3)
            own = bestMatchAt(*w, i, table[i]);

        Option best{NONE, 0, 0, {}};
        bool have = false;
        if (left < 4) {
            best = Option{left + 1, left, KIND_STOP, {KIND_STOP, 0, 0, left}};
            have = true;
        }
        for (u32 L = 4; L <= 112 && L <= left; L += 4) {
            Option o{w->cost(i + L) + 1 + L, L, KIND_LITERALS, {KIND_LITERALS, 0, 0, L}};
            if (!have || better(o, best)) {
                best = o;
                have = true;
            }
        }
        for (u32 j = 0; j < 4 && j < left; j++) {
            const Option& m = matchAt[(i + j) & 3];
            if (m.cost == NONE)
                continue;
            Option o{m.cost + j, m.consumed + j, KIND_MATCH, m.decision};
            o.decision.literals = j;
            if (!have || better(o, best)) {
                best = o;
                have = true;
            }
        }
        table[i] = packDecision(best.decision);
        w->add(i, best.cost, n);
        total = best.cost;
    }
    memFree(w);
    return total;
}

// The nearest earlier position the chosen command can reach with at least `length` equal
// bytes, found by the same chain walk the lengths were defined over; NONE if there is none.
u32 findDistance(const u8* b, u32 p, u32 length, u32 reach, const u32* chain)
{
    u32 c = chain[p];
    for (u32 seen = 0; c != NONE && seen < MAX_CANDIDATES; seen++, c = chain[c]) {
        u32 distance = p - c;
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

bool emitCommands(const u8* b, u32 n, const u32* decisions, const u32* chain, Writer& w)
{
    static const u32 reach[3] = {SHORT_DISTANCE, MEDIUM_DISTANCE, MAX_DISTANCE};
    u32 i = 0;
    while (i < n) {
        Decision d = unpackDecision(decisions[i]);
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
        const u32 distance = findDistance(b, p, d.length, reach[d.matchClass], chain);
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
    u32* table = static_cast<u32*>(memAlloc(u64(n) * 4 + 4));
    ByteArray* result = nullptr;
    if (chain && table && findMatchLengths(b, n, chain, table)) {
        u32 size = chooseCommands(n, table);
        ByteArray* out = size ? memNew<ByteArray>(size) : nullptr;
        if (out && out->data) {
            Writer w{out->data, size};
            if (emitCommands(b, n, table, chain, w) && !w.overrun && w.length == size) {
                result = out;
                out = nullptr;
            }
        }
        deleteByteArray(out);
    }
    memFree(chain);
    memFree(table);
    return result;
}

ByteArray* CodecRefPack::decompress(const ByteArray& in, u32 expectedSize)
{
    const u64 n = in.count;
    const u8* src = in.data;
    // Nothing can decode to more than MAX_RATIO times its size, so no larger claim is trusted.
    const u32 capacity = u64(expectedSize) < n * MAX_RATIO ? expectedSize : u32(n * MAX_RATIO);
    ByteArray* out = memNew<ByteArray>(capacity);
    if (!out)
        return nullptr;
    u8* dst = out->data;
    const u32 room = dst ? capacity : 0;
    u64 ip = 0;
    u32 op = 0;
    bool stopped = false;
    bool broken = false;

    while (op < room && ip < n) {
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
            if (count > room - op)
                count = room - op;
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
            u32 count = length < room - op ? length : room - op;
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
    if (op == capacity)
        return out;
    ByteArray* shorter = memNew<ByteArray>(dst, op);
    deleteByteArray(out);
    return shorter;
}
