#include "RefPackReference.h"

#include <algorithm>

namespace
{
struct Choice
{
    u32 kind = 0; // 0 stop with literals, 1 literal run, 2 match
    u32 literals = 0;
    u32 matchClass = 0;
    u32 length = 0;
};
}

std::vector<u8> refPackReferenceCompress(const std::vector<u8>& in)
{
    const i64 n = i64(in.size());
    const u8* b = in.data();
    if (n == 0)
        return {0xFC};

    std::vector<i32> chain(size_t(n), -1);
    std::vector<u32> head(65536, 0xFFFFFFFFu);
    for (i64 p = 0; p + 2 < n; p++) {
        u32 h = (((u32(b[p]) * 16) ^ b[p + 1]) * 16) ^ b[p + 2];
        chain[size_t(p)] = head[h] == 0xFFFFFFFFu ? -1 : i32(head[h]);
        head[h] = u32(p);
    }

    auto sameStart = [&](i64 c, i64 p) { return b[c] == b[p] && b[c + 1] == b[p + 1] && b[c + 2] == b[p + 2]; };
    auto lengthAt = [&](i64 c, i64 p) {
        i64 most = std::min<i64>(n - p, 1028), len = 0;
        while (len < most && b[c + len] == b[p + len])
            len++;
        return len;
    };

    std::vector<u16> shortLen(in.size()), mediumLen(in.size()), longLen(in.size());
    for (i64 p = 0; p + 2 < n; p++) {
        i64 s = 0, m = 0, l = 0;
        int walked = 0;
        for (i64 c = chain[size_t(p)]; c >= 0 && walked < 2048; c = chain[size_t(c)], walked++) {
            i64 distance = p - c;
            if (distance > 131072)
                break;
            if (!sameStart(c, p))
                continue;
            i64 len = lengthAt(c, p);
            if (distance <= 1024)
                s = std::max(s, std::min<i64>(len, 10));
            if (distance <= 16384)
                m = std::max(m, std::min<i64>(len, 67));
            l = std::max(l, len);
            if (s == 10 && m == 67 && l == 1028)
                break;
        }
        shortLen[size_t(p)] = u16(s);
        mediumLen[size_t(p)] = u16(m);
        longLen[size_t(p)] = u16(l);
    }

    std::vector<u32> cost(size_t(n) + 1);
    std::vector<Choice> decision(size_t(n) + 1);
    cost[size_t(n)] = 1;
    for (i64 i = n - 1; i >= 0; i--) {
        u32 best = 0x3FFFFFFF, bestConsumed = 0, bestRank = 0;
        Choice chosen;
        auto consider = [&](u32 c, u32 consumed, u32 rank, Choice d) {
            bool replace = c < best || (c == best && consumed > bestConsumed) ||
                           (c == best && consumed == bestConsumed && rank > bestRank);
            if (replace) {
                best = c;
                bestConsumed = consumed;
                bestRank = rank;
                chosen = d;
            }
        };
        if (n - i < 4)
            consider(u32(n - i) + 1, u32(n - i), 0, Choice{0, 0, 0, u32(n - i)});
        for (i64 L = 4; L <= 112 && i + L <= n; L += 4)
            consider(cost[size_t(i + L)] + 1 + u32(L), u32(L), 1, Choice{1, 0, 0, u32(L)});
        for (i64 j = 0; j <= 3; j++) {
            i64 p = i + j;
            if (p >= n || n - p < 3 || longLen[size_t(p)] < 3)
                continue;
            i64 s = shortLen[size_t(p)], m = mediumLen[size_t(p)], l = longLen[size_t(p)];
            for (i64 len = 3; len <= s; len++)
                consider(cost[size_t(p + len)] + 2 + u32(j), u32(j + len), 2, Choice{2, u32(j), 0, u32(len)});
            for (i64 len = std::max<i64>(s + 1, 4); len <= m; len++)
                consider(cost[size_t(p + len)] + 3 + u32(j), u32(j + len), 2, Choice{2, u32(j), 1, u32(len)});
            for (i64 len = std::max<i64>(m + 1, 5); len <= l; len++)
                consider(cost[size_t(p + len)] + 4 + u32(j), u32(j + len), 2, Choice{2, u32(j), 2, u32(len)});
        }
        cost[size_t(i)] = best;
        decision[size_t(i)] = chosen;
    }

    std::vector<u8> out;
    i64 i = 0;
    for (;;) {
        if (i == n) {
            out.push_back(0xFC);
            break;
        }
        const Choice& d = decision[size_t(i)];
        if (d.kind == 0) {
            out.push_back(u8(0xFC | d.length));
            out.insert(out.end(), b + i, b + n);
            break;
        }
        if (d.kind == 1) {
            out.push_back(u8(0xE0 + (d.length / 4 - 1)));
            out.insert(out.end(), b + i, b + i + d.length);
            i += d.length;
            continue;
        }
        const i64 p = i + d.literals;
        const i64 reach = d.matchClass == 0 ? 1024 : d.matchClass == 1 ? 16384 : 131072;
        i64 distance = -1;
        int walked = 0;
        for (i64 c = chain[size_t(p)]; c >= 0 && walked < 2048; c = chain[size_t(c)], walked++) {
            if (p - c > 131072)
                break;
            if (p - c > reach || !sameStart(c, p))
                continue;
            if (lengthAt(c, p) >= i64(d.length)) {
                distance = p - c;
                break;
            }
        }
        if (distance < 0)
            return {};
        const u32 o = u32(distance - 1), len = d.length, lit = d.literals;
        if (d.matchClass == 0) {
            out.push_back(u8(((o >> 8) & 3) << 5 | ((len - 3) & 7) << 2 | lit));
            out.push_back(u8(o & 0xFF));
        } else if (d.matchClass == 1) {
            out.push_back(u8(0x80 | ((len - 4) & 0x3F)));
            out.push_back(u8(lit << 6 | ((o >> 8) & 0x3F)));
            out.push_back(u8(o & 0xFF));
        } else {
            out.push_back(u8(0xC0 | ((o >> 16) & 1) << 4 | (((len - 5) >> 8) & 3) << 2 | lit));
            out.push_back(u8((o >> 8) & 0xFF));
            out.push_back(u8(o & 0xFF));
            out.push_back(u8((len - 5) & 0xFF));
        }
        out.insert(out.end(), b + i, b + i + lit);
        i = p + len;
    }
    return out;
}
