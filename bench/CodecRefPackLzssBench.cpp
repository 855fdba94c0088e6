// RefPack and LZSS over 16 MiB of zeros, random bytes and text-like data.
#include "bench/PackBenchData.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "gamedata/codecs/CodecRefPack.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace
{
constexpr size_t SIZE = 16u << 20;

typedef std::unique_ptr<ByteArray, ByteArrayDeleter> ArrayPtr;

const ByteArray& input(int kind)
{
    static std::map<int, ArrayPtr> cache;
    auto& slot = cache[kind];
    if (!slot) {
        std::vector<u8> b = packbench::sample(kind, SIZE);
        slot.reset(memNew<ByteArray>(b.data(), u32(b.size())));
    }
    return *slot;
}

template <typename C>
const ByteArray& packed(int kind)
{
    static std::map<int, ArrayPtr> cache;
    auto& slot = cache[kind];
    if (!slot) {
        C codec;
        slot.reset(codec.compress(input(kind)));
    }
    return *slot;
}

template <typename C>
void compress(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const ByteArray& in = input(kind);
    u64 size = 0;
    for (auto _ : state) {
        C codec;
        ArrayPtr out(codec.compress(in));
        size = out ? out->count : 0;
    }
    state.SetLabel(packbench::sampleName(kind));
    state.SetBytesProcessed(i64(state.iterations()) * in.count);
    state.counters["ratio"] = double(size) / double(in.count);
}

template <typename C>
void decompress(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const ByteArray& in = input(kind);
    const ByteArray& stream = packed<C>(kind);
    for (auto _ : state) {
        C codec;
        ArrayPtr out(codec.decompress(stream, in.count));
        if (!out || out->count != in.count)
            state.SkipWithError("stream did not decode");
    }
    state.SetLabel(packbench::sampleName(kind));
    state.SetBytesProcessed(i64(state.iterations()) * in.count);
}
}

BENCHMARK_TEMPLATE(compress, CodecRefPack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(decompress, CodecRefPack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(compress, CodecLZSS)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(decompress, CodecLZSS)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
