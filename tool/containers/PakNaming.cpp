#include "framework/io/Stream.h"
#include "tool/containers/ContainerPAK.h"

#include <cstring>

namespace
{
// Every test looks at no more than the first 20 bytes; reads past the entry's end give 0.
struct EntryHead
{
    u8 bytes[20] = {};
    u32 have = 0;
    i64 n = 0;

    u32 u32At(u32 k) const
    {
        if (k + 4 > have)
            return 0;
        return u32(bytes[k]) | u32(bytes[k + 1]) << 8 | u32(bytes[k + 2]) << 16 | u32(bytes[k + 3]) << 24;
    }
    u16 u16At(u32 k) const { return k + 2 > have ? 0 : u16(bytes[k] | bytes[k + 1] << 8); }
    bool matches(u32 k, const char* text) const
    {
        u32 len = u32(strlen(text));
        return k + len <= have && memcmp(bytes + k, text, len) == 0;
    }
};

bool hasPakShape(const EntryHead& h)
{
    u8 top = u8(h.u32At(4) >> 24);
    return h.u32At(0) == h.n && (top == 0x20 || top == 0xA0 || top == 0xE0 || top == 0xFF);
}

bool isPaletteBySize(const EntryHead& h)
{
    if (h.n == 772)
        return h.u16At(0) == 0 && h.u16At(2) == 256;
    // Too short to hold the palette's own first and count words.
    if (h.n < 4)
        return false;
    i32 first = h.u16At(0);
    i32 count = h.u16At(2);
    return first <= 256 - count && count == (h.n - 4) / 3;
}

bool isVoice(const EntryHead& h)
{
    return h.matches(0, "Creative Voice File") && h.have >= 20 && h.bytes[19] == 0x1A;
}

// A 32-byte header whose first word is the sample bytes after it.
bool isFlexSound(const EntryHead& h)
{
    u16 rate = h.u16At(4);
    return i64(h.u32At(0)) == h.n - 32 && (rate == 11111 || rate == 11025) && h.u16At(6) == 1;
}

bool isRawPalette(const EntryHead& h)
{
    if (h.n == 768)
        return h.bytes[0] == 0 && h.bytes[1] == 0 && h.bytes[2] == 0;
    if (h.n == 769)
        return h.bytes[0] == 0 && h.bytes[1] == 0 && h.bytes[2] == 0xFF;
    return false;
}

bool isShape(const EntryHead& h)
{
    if (h.n <= 8)
        return false;
    i64 first = h.u32At(0);
    if (first != h.n && first != h.n - 788 && first != h.n - 789)
        return false;
    u32 frames = (h.u32At(4) >> 2) & 0x3FFFFF;
    return frames >= 1 && frames <= 512;
}
}

String ContainerPAK::guessEntryName(Stream& stream, u32 n, const String& archiveName)
{
    EntryHead h;
    h.n = n;
    u64 start = stream.tell();
    u32 want = n < sizeof(h.bytes) ? n : u32(sizeof(h.bytes));
    h.have = u32(stream.read(h.bytes, want));
    stream.seek(start);

    if (hasPakShape(h))
        return ".PAK";
    if (h.matches(0, "FORM"))
        return ".IFF";
    if (h.matches(0, "RIFF") && h.matches(8, "WAVE"))
        return ".WAV";
    if (h.matches(0, "1.11"))
        return ".SHP";
    if (h.n <= 772 && isPaletteBySize(h))
        return ".PAL";
    // Short entries that are not palettes are never taken for sounds.
    if (h.n >= 20) {
        if (isVoice(h))
            return ".VOC";
        if (isFlexSound(h))
            return ".FLX_SND";
    }
    if (isRawPalette(h))
        return ".PAL";
    if (isShape(h))
        return ".SHP";
    if ((archiveName.endsWithNoCase("ACCPACK.PAK") || archiveName.endsWithNoCase("TXMPACK.PAK")) &&
        i64(h.u16At(0)) * h.u16At(2) == h.n - 4)
        return ".TXM";
    // Tested on the whole path as the archive was named: the stored archives rely on it.
    if (archiveName.startsWithNoCase("shapes") || archiveName.startsWithNoCase("targshap"))
        return ".SHP";
    return String();
}
