// Our RefPack codec next to npm's qfs-compression on the same inputs of 16 MiB less one byte
// (the most a QFS header can state): text-like data, random bytes and zeros. Needs node with
// tests/oracles installed (scripts/setup.sh test).
#include "bench/BenchData.h"
#include "gamedata/codecs/CodecRefPack.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace
{
constexpr u32 SIZE = (16u << 20) - 1;

template <typename F>
double bestMs(int runs, F f)
{
    double best = 1e300;
    for (int i = 0; i < runs; i++) {
        auto t = std::chrono::steady_clock::now();
        f();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
        if (ms < best)
            best = ms;
    }
    return best;
}

void writeFile(const std::string& name, const u8* header, u32 headerSize, const ByteArray& a)
{
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header), headerSize);
    f.write(reinterpret_cast<const char*>(a.data), std::streamsize(a.count));
}

// Runs a timing script and collects its "name value" lines.
bool runScript(const std::string& command, std::map<std::string, double>& values)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return false;
    char line[256], name[128];
    double v;
    while (fgets(line, sizeof line, p))
        if (sscanf(line, "%127s %lf", name, &v) == 2)
            values[name] = v;
    return pclose(p) == 0;
}
}

int main()
{
    const char* names[3] = {"text", "random", "zeros"};
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "mordax-refpack-side-by-side";
    std::filesystem::create_directories(dir);
    bool allOk = true;
    printf("%-7s %11s %11s %11s %11s %11s %11s %9s %9s\n", "input", "ours bytes", "qfs bytes", "ours c ms", "qfs c ms",
           "ours d ms", "qfs d ms", "d ratio", "qfs own");
    for (int kind = 0; kind < 3; kind++) {
        std::vector<u8> data = kind == 0   ? benchdata::textBytes(SIZE)
                               : kind == 1 ? benchdata::randomBytes(SIZE)
                                           : benchdata::repeatedBytes(SIZE, 0);
        ByteArray raw(data.data(), SIZE);
        CodecRefPack codec;
        ByteArray* packed = nullptr;
        double compressMs = bestMs(1, [&] { packed = codec.compress(raw); });
        bool same = true;
        double decompressMs = bestMs(3, [&] {
            ByteArray* back = codec.decompress(*packed, SIZE);
            same = same && back && back->count == SIZE && memcmp(back->data, raw.data, SIZE) == 0;
            deleteByteArray(back);
        });
        const u8 header[5] = {0x10, 0xFB, u8(SIZE >> 16), u8(SIZE >> 8), u8(SIZE)};
        std::string rawPath = (dir / "raw").string(), oursPath = (dir / "ours").string();
        writeFile(rawPath, nullptr, 0, raw);
        writeFile(oursPath, header, 5, *packed);
        std::map<std::string, double> theirs;
        bool ok = runScript("node '" + std::string(MORDAX_SOURCE_DIR) + "/bench/scripts/qfs_timing.mjs' '" + rawPath +
                                "' '" + oursPath + "'",
                            theirs);
        allOk = allOk && ok && same;
        printf("%-7s %11u %11.0f %11.1f %11.1f %11.1f %11.1f %8.1fx %9.1f%s\n", names[kind], packed->count,
               theirs["qfs_bytes"], compressMs, theirs["qfs_compress_ms"], decompressMs,
               theirs["qfs_decompress_ours_ms"], theirs["qfs_decompress_ours_ms"] / decompressMs,
               theirs["qfs_decompress_own_ms"], ok && same ? "" : "  (check failed)");
        deleteByteArray(packed);
    }
    std::filesystem::remove_all(dir);
    return allOk ? 0 : 1;
}
