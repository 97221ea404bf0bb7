// What this machine moves and adds per second, on one core: the floors that
// bench/README.md measures each stage of a frame against. Copies run
// through glibc's memcpy (its widest route); the additions are the plane
// sums' own operation, a + b - c over int32, vectorized by the compiler for
// each instruction set.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A buffer of `bytes` copied into another: 2 x bytes moved a copy.
void BM_Copy(benchmark::State& state) {
    const auto bytes = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * static_cast<std::int64_t>(bytes));
}
// Half a ring of the axial sums' size each way (within L2), and a frame's
// worth (from memory).
BENCHMARK(BM_Copy)->Arg(256 << 10)->Arg(1 << 20)->Arg(64 << 20);

// out = a + b - c over `words` int32 each: three streams in, one out, with
// the vectors of each instruction set the engine has kernels for.
#define CREST_ADD_STREAMS(name, isa)                                                                           \
    __attribute__((target(isa))) void name(const std::int32_t* __restrict x, const std::int32_t* __restrict y, \
                                           const std::int32_t* __restrict z, std::int32_t* __restrict o,       \
                                           std::size_t words) {                                                \
        for (std::size_t i = 0; i < words; ++i) o[i] = x[i] + y[i] - z[i];                                     \
    }
CREST_ADD_STREAMS(addStreamsSse2, "sse2")
CREST_ADD_STREAMS(addStreamsAvx2, "avx2")
CREST_ADD_STREAMS(addStreamsAvx512, "avx512f,prefer-vector-width=512")
#undef CREST_ADD_STREAMS

using AddStreams = void (*)(const std::int32_t*, const std::int32_t*, const std::int32_t*, std::int32_t*, std::size_t);

void addStreams(benchmark::State& state, AddStreams add, bool available) {
    if (!available) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    const auto words = static_cast<std::size_t>(state.range(0));
    std::vector<std::int32_t> a(words, 1), b(words, 2), c(words, 3), out(words, 0);
    for (auto _ : state) {
        add(a.data(), b.data(), c.data(), out.data(), words);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16 * static_cast<std::int64_t>(words));
    state.counters["adds_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 2.0 * static_cast<double>(words), benchmark::Counter::kIsRate);
}

// Within L1 (4 x 8 KB) and within L2 (4 x 256 KB, the axial stage's scale).
BENCHMARK_CAPTURE(addStreams, sse2, addStreamsSse2, true)->Arg(2 << 10)->Arg(64 << 10);
BENCHMARK_CAPTURE(addStreams, avx2, addStreamsAvx2, __builtin_cpu_supports("avx2"))->Arg(2 << 10)->Arg(64 << 10);
BENCHMARK_CAPTURE(addStreams, avx512, addStreamsAvx512, __builtin_cpu_supports("avx512f"))->Arg(2 << 10)->Arg(64 << 10);

}  // namespace

BENCHMARK_MAIN();
