// Compress and decompress speed of the LZW and Implode codecs on 1 MiB inputs, the Implode and
// LZWX decoders also on 16 MiB, and what an LZWX stream that claims far more than it holds
// costs before it fails. The reported rate is of uncompressed bytes.
#include "bench/BenchData.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"
#include "gamedata/codecs/CodecLZWX.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace
{
constexpr size_t INPUT_SIZE = 1 << 20;

typedef std::unique_ptr<ByteArray, ByteArrayDeleter> ArrayPtr;

// Kinds: 0 text, 1 random, 2 one repeated byte, 3 zeros, 4 a 3-byte pattern repeated.
std::vector<u8> makeInput(int kind, size_t n)
{
    if (kind == 0)
        return benchdata::textBytes(n);
    if (kind == 1)
        return benchdata::randomBytes(n);
    if (kind == 2)
        return benchdata::repeatedBytes(n);
    if (kind == 3)
        return benchdata::repeatedBytes(n, 0);
    std::vector<u8> b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = u8("xyz"[i % 3]);
    return b;
}

const std::vector<u8>& input(int kind, size_t n = INPUT_SIZE)
{
    static std::map<std::pair<int, size_t>, std::vector<u8>> cache;
    std::vector<u8>& slot = cache[{kind, n}];
    if (slot.empty())
        slot = makeInput(kind, n);
    return slot;
}

const char* inputName(int kind)
{
    static const char* names[] = {"text", "random", "repeated", "zeros", "pattern3"};
    return names[kind];
}

template <typename C>
void compressBench(benchmark::State& state)
{
    const std::vector<u8>& data = input(int(state.range(0)));
    ByteArray in(data.data(), u32(data.size()));
    C codec;
    u64 packed = 0;
    for (auto _ : state) {
        ByteArray* out = codec.compress(in);
        packed = out ? out->count : 0;
        benchmark::DoNotOptimize(out);
        deleteByteArray(out);
    }
    state.SetBytesProcessed(i64(state.iterations()) * i64(data.size()));
    state.SetLabel(std::string(inputName(int(state.range(0)))) + ", packed " + std::to_string(packed));
}

// Arguments: input kind, and the size in MiB (1 when absent).
template <typename C>
void decompressBench(benchmark::State& state)
{
    const size_t n = state.range(1) ? size_t(state.range(1)) << 20 : INPUT_SIZE;
    const std::vector<u8>& data = input(int(state.range(0)), n);
    ByteArray in(data.data(), u32(data.size()));
    C codec;
    ArrayPtr packed(codec.compress(in));
    for (auto _ : state) {
        ByteArray* out = codec.decompress(*packed, u32(data.size()));
        if (!out || out->count != data.size())
            state.SkipWithError("decompression failed");
        benchmark::DoNotOptimize(out);
        deleteByteArray(out);
    }
    state.SetBytesProcessed(i64(state.iterations()) * i64(data.size()));
    state.SetLabel(std::string(inputName(int(state.range(0)))) + " " + std::to_string(n >> 20) + " MiB");
}

// Resident set in KiB ("VmRSS" or "VmHWM"); 0 where /proc does not say.
u64 residentKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::stoull(line.substr(prefix.size()));
    return 0;
}

// The first 450,000 bytes of the stream of 2 MiB of text, claiming 1.5e9 bytes: within what
// so many codes could spell, so only the decoding shows that the stream falls short.
void lzwxHostileClaim(benchmark::State& state)
{
    const std::vector<u8>& data = input(0, 2 << 20);
    ByteArray in(data.data(), u32(data.size()));
    ArrayPtr stream(compressLZWX(in));
    const u32 cut = stream->count < 450000 ? stream->count : 450000;
    ByteArray prefix(stream->data, cut);
    const u32 claim = 1500000000;
    u64 peakRise = 0;
    for (auto _ : state) {
        // Resets the high-water mark to the present resident set (Linux).
        std::ofstream("/proc/self/clear_refs") << "5";
        const u64 base = residentKiB("VmRSS");
        ByteArray* out = decompressLZWX(prefix, claim);
        if (out)
            state.SkipWithError("the claim was met");
        deleteByteArray(out);
        const u64 peak = residentKiB("VmHWM");
        if (peak > base && peak - base > peakRise)
            peakRise = peak - base;
    }
    state.counters["peak_rise_MiB"] = double(peakRise) / 1024;
    state.SetLabel(std::to_string(cut) + " bytes claiming " + std::to_string(claim));
}
}

BENCHMARK(compressBench<CodecLZW>)->Name("LZW/compress")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompressBench<CodecLZW>)
    ->Name("LZW/decompress")
    ->ArgsProduct({{0, 1, 2}, {1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(compressBench<CodecImplode>)->Name("Implode/compress")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompressBench<CodecImplode>)
    ->Name("Implode/decompress")
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 16}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(decompressBench<CodecLZWX>)
    ->Name("LZWX/decompress")
    ->ArgsProduct({{0, 1, 3}, {1, 16}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(lzwxHostileClaim)->Name("LZWX/hostileClaim")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
