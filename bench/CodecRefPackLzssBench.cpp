// Compress and decompress speed of the RefPack and LZSS codecs on 16 MiB inputs (argument 0
// text, 1 random, 2 zeros). The reported rate is of uncompressed bytes; "ratio" is the packed
// size over the input size.
#include "bench/BenchData.h"
#include "gamedata/codecs/CodecLZSS.h"
#include "gamedata/codecs/CodecRefPack.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace
{
constexpr size_t INPUT_SIZE = 16u << 20;

typedef std::unique_ptr<ByteArray, ByteArrayDeleter> ArrayPtr;

const ByteArray& input(int kind)
{
    static std::map<int, ArrayPtr> cache;
    ArrayPtr& slot = cache[kind];
    if (!slot) {
        std::vector<u8> b = kind == 0   ? benchdata::textBytes(INPUT_SIZE)
                            : kind == 1 ? benchdata::randomBytes(INPUT_SIZE)
                                        : benchdata::repeatedBytes(INPUT_SIZE, 0);
        slot.reset(memNew<ByteArray>(b.data(), u32(b.size())));
    }
    return *slot;
}

const char* inputName(int kind)
{
    return kind == 0 ? "text" : kind == 1 ? "random" : "zeros";
}

template <typename C>
const ByteArray& packed(int kind)
{
    static std::map<int, ArrayPtr> cache;
    ArrayPtr& slot = cache[kind];
    if (!slot) {
        C codec;
        slot.reset(codec.compress(input(kind)));
    }
    return *slot;
}

template <typename C>
void compressBench(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const ByteArray& in = input(kind);
    u64 size = 0;
    for (auto _ : state) {
        C codec;
        ArrayPtr out(codec.compress(in));
        size = out ? out->count : 0;
    }
    state.SetLabel(inputName(kind));
    state.SetBytesProcessed(i64(state.iterations()) * in.count);
    state.counters["ratio"] = double(size) / double(in.count);
    state.counters["bytes"] = double(size);
}

template <typename C>
void decompressBench(benchmark::State& state)
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
    state.SetLabel(inputName(kind));
    state.SetBytesProcessed(i64(state.iterations()) * in.count);
}
}

BENCHMARK_TEMPLATE(compressBench, CodecRefPack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(decompressBench, CodecRefPack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(compressBench, CodecLZSS)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(decompressBench, CodecLZSS)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
