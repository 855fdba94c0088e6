// Our LZW and Implode codecs next to outside implementations on the same 16 MiB of text-like
// data: node-pkware's implode and explode, and Pillow's C GIF decoder on our LZW stream.
// Needs node with tests/oracles installed (scripts/setup.sh test) and /usr/bin/python3 with Pillow.
#include "bench/BenchData.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace
{
constexpr u32 SIZE = 16u << 20;

template <typename F>
double bestMs(F f)
{
    double best = 1e300;
    for (int i = 0; i < 3; i++) {
        auto t = std::chrono::steady_clock::now();
        f();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
        if (ms < best)
            best = ms;
    }
    return best;
}

void writeFile(const std::string& name, const ByteArray& a)
{
    std::ofstream f(name, std::ios::binary);
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

double mbps(double ms)
{
    return SIZE / 1048576.0 / (ms / 1000.0);
}
}

int main()
{
    std::vector<u8> text = benchdata::textBytes(SIZE);
    ByteArray raw(text.data(), SIZE);

    CodecImplode implodeCodec;
    CodecLZW lzwCodec;
    ByteArray* imploded = nullptr;
    ByteArray* lzw = nullptr;
    double implodeMs = bestMs([&] {
        deleteByteArray(imploded);
        imploded = implodeCodec.compress(raw);
    });
    double explodeMs = bestMs([&] { deleteByteArray(implodeCodec.decompress(*imploded, SIZE)); });
    double lzwCompressMs = bestMs([&] {
        deleteByteArray(lzw);
        lzw = lzwCodec.compress(raw);
    });
    double lzwDecompressMs = bestMs([&] { deleteByteArray(lzwCodec.decompress(*lzw, SIZE)); });

    std::filesystem::path dir = std::filesystem::temp_directory_path() / "mordax-side-by-side";
    std::filesystem::create_directories(dir);
    writeFile((dir / "raw").string(), raw);
    writeFile((dir / "implode").string(), *imploded);
    writeFile((dir / "lzw").string(), *lzw);
    std::string src = MORDAX_SOURCE_DIR;
    std::map<std::string, double> theirs;
    bool nodeOk = runScript("node '" + src + "/bench/scripts/pkware_timing.mjs' '" + (dir / "raw").string() + "' '" +
                                (dir / "implode").string() + "'",
                            theirs);
    bool pillowOk = runScript("/usr/bin/python3 '" + src + "/bench/scripts/gif_timing.py' '" + (dir / "lzw").string() +
                                  "' '" + (dir / "raw").string() + "' 4096 4096",
                              theirs);
    std::filesystem::remove_all(dir);

    printf("16 MiB of text-like data; implode stream %u bytes, LZW stream %u bytes\n", imploded->count, lzw->count);
    printf("%-22s %10s %10s %10s %8s %8s\n", "", "ours ms", "theirs ms", "ours MB/s", "ratio", "target");
    auto row = [&](const char* name, double ours, const char* key, double target) {
        auto it = theirs.find(key);
        if (it == theirs.end()) {
            printf("%-22s %10.1f %10s %10.1f %8s %7.0fx\n", name, ours, "-", mbps(ours), "-", target);
            return;
        }
        printf("%-22s %10.1f %10.1f %10.1f %7.1fx %7.0fx\n", name, ours, it->second, mbps(ours), it->second / ours,
               target);
    };
    row("Implode decompress", explodeMs, "explode_ms", 8);
    row("Implode compress", implodeMs, "implode_ms", 5);
    row("LZW decompress", lzwDecompressMs, "pillow_ms", 1);
    printf("%-22s %10.1f %10s %10.1f\n", "LZW compress", lzwCompressMs, "-", mbps(lzwCompressMs));
    if (!nodeOk)
        printf("node-pkware run failed (is tests/oracles installed?)\n");
    if (!pillowOk)
        printf("Pillow run failed\n");
    deleteByteArray(imploded);
    deleteByteArray(lzw);
    return nodeOk && pillowOk ? 0 : 1;
}
