// Pixels per second of the scalar pair encoder, and of each word-line
// formatter this processor runs, as the header writer calls them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pixel_pair.h"
#include "word_line.h"

namespace {

std::vector<std::uint8_t> noise(std::size_t bytes)
{
    std::vector<std::uint8_t> data(bytes);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : data) {
        state = state * 1664525u + 1013904223u;
        byte = std::uint8_t(state >> 24);
    }
    return data;
}

void encode_pairs(benchmark::State& state)
{
    const std::vector<std::uint8_t> pixels = noise(4096 * 3);
    for (auto _ : state) {
        for (std::size_t i = 0; i < pixels.size(); i += 6) {
            const std::uint8_t* p = pixels.data() + i;
            benchmark::DoNotOptimize(pixmar::encode_pixel_pair(p[2], p[1], p[0], p[5], p[4], p[3]));
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 4096);
}
BENCHMARK(encode_pairs);

// One 4096-pixel row as the header writer formats it, switch off and on.
void format_row(benchmark::State& state, pixmar::WordLineFormatter formatter)
{
    const bool magic_pink = state.range(0) != 0;
    std::vector<std::uint8_t> pixels = noise(4096 * 3);
    std::vector<char> text(4096 / pixmar::kPixelsPerLine * pixmar::kMaxWordLineBytes);
    for (auto _ : state) {
        char* out = text.data();
        for (std::uint32_t column = 0; column < 4096; column += pixmar::kPixelsPerLine)
            out = formatter(pixels.data() + column * 3, 8, magic_pink, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 4096);
}
}  // namespace

int main(int argc, char** argv)
{
    for (const pixmar::NamedWordLineFormatter& formatter : pixmar::word_line_formatters())
        benchmark::RegisterBenchmark((std::string("format_row/") + formatter.name).c_str(), format_row, formatter.format)
            ->Arg(0)
            ->Arg(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
