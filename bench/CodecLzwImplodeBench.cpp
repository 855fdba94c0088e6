// Compress and decompress speed of the LZW and Implode codecs on 1 MiB inputs. The reported
// rate is of uncompressed bytes.
#include "bench/BenchData.h"
#include "gamedata/codecs/CodecImplode.h"
#include "gamedata/codecs/CodecLZW.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace
{
constexpr size_t INPUT_SIZE = 1 << 20;

const std::vector<u8>& input(int kind)
{
    static const std::vector<u8> text = benchdata::textBytes(INPUT_SIZE);
    static const std::vector<u8> random = benchdata::randomBytes(INPUT_SIZE);
    static const std::vector<u8> repeated = benchdata::repeatedBytes(INPUT_SIZE);
    return kind == 0 ? text : kind == 1 ? random : repeated;
}

const char* inputName(int kind)
{
    return kind == 0 ? "text" : kind == 1 ? "random" : "repeated";
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

template <typename C>
void decompressBench(benchmark::State& state)
{
    const std::vector<u8>& data = input(int(state.range(0)));
    ByteArray in(data.data(), u32(data.size()));
    C codec;
    std::unique_ptr<ByteArray, ByteArrayDeleter> packed(codec.compress(in));
    for (auto _ : state) {
        ByteArray* out = codec.decompress(*packed, u32(data.size()));
        if (!out || out->count != data.size())
            state.SkipWithError("decompression failed");
        benchmark::DoNotOptimize(out);
        deleteByteArray(out);
    }
    state.SetBytesProcessed(i64(state.iterations()) * i64(data.size()));
    state.SetLabel(inputName(int(state.range(0))));
}
}

BENCHMARK(compressBench<CodecLZW>)->Name("LZW/compress")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompressBench<CodecLZW>)->Name("LZW/decompress")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(compressBench<CodecImplode>)->Name("Implode/compress")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(decompressBench<CodecImplode>)
    ->Name("Implode/decompress")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
