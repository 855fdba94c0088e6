#pragma once
// Writes package files from the format alone, without the reader's code: the entries' bytes,
// the table of contents, then the table's length in the last four bytes (little-endian); a key
// is XORed over the table from its first byte, over the length from key byte 0, and over every
// entry's bytes from the entry's first byte.
#include "framework/core/Types.h"

#include <string>
#include <vector>

struct PackageFileEntry
{
    std::string name;
    std::string stored;
    u32 unpackedSize = 0xFFFFFFFFu; // the stored size unless given
    u8 method = 0;
};

inline void putU32(std::string& out, u32 v)
{
    for (int i = 0; i < 4; i++)
        out.push_back(char((v >> (8 * i)) & 0xFF));
}

inline std::string scramble(std::string bytes, const std::string& key)
{
    for (size_t i = 0; !key.empty() && i < bytes.size(); i++)
        bytes[i] = char(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

// The whole file around a table already written (unscrambled).
inline std::string packageFile(const std::string& data, const std::string& toc, const std::string& key = "")
{
    std::string trailer;
    putU32(trailer, u32(toc.size()));
    return data + scramble(toc, key) + scramble(trailer, key);
}

// Data of every entry in order, each scrambled from its own start.
inline std::string packageData(const std::vector<PackageFileEntry>& entries, const std::string& key,
                               std::vector<u32>& offsets)
{
    std::string data;
    for (const PackageFileEntry& e : entries) {
        offsets.push_back(u32(data.size()));
        data += scramble(e.stored, key);
    }
    return data;
}

// Version 1: {u32 offset, name, 0} per entry; an entry runs to the next one's offset.
inline std::string writePackageV1(const std::vector<PackageFileEntry>& entries, const std::string& key = "")
{
    std::vector<u32> offsets;
    std::string data = packageData(entries, key, offsets);
    std::string toc(1, '\1');
    for (size_t i = 0; i < entries.size(); i++) {
        putU32(toc, offsets[i]);
        toc += entries[i].name;
        toc.push_back('\0');
    }
    return packageFile(data, toc, key);
}

// Version 2: the first offset, then per entry {u32 unpacked size, u8 method, name, 0} and,
// but for the last, the next entry's offset.
inline std::string writePackageV2(const std::vector<PackageFileEntry>& entries, const std::string& key = "")
{
    std::vector<u32> offsets;
    std::string data = packageData(entries, key, offsets);
    std::string toc(1, '\2');
    putU32(toc, offsets.empty() ? 0 : offsets[0]);
    for (size_t i = 0; i < entries.size(); i++) {
        const PackageFileEntry& e = entries[i];
        putU32(toc, e.unpackedSize == 0xFFFFFFFFu ? u32(e.stored.size()) : e.unpackedSize);
        toc.push_back(char(e.method));
        toc += e.name;
        toc.push_back('\0');
        if (i + 1 < entries.size())
            putU32(toc, offsets[i + 1]);
    }
    return packageFile(data, toc, key);
}
