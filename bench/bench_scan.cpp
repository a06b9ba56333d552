#include "BenchSprite.h"
#include "FakeMaskWindow.h"
#include "MaskScan.h"

#include <benchmark/benchmark.h>

// The scan as the engine runs it, with a window of plain images.
static void BM_EngineScan(benchmark::State &state)
{
    const int size = int(state.range(0));
    FakeMaskWindow w(benchSprite(size));
    w.repaintInterval = 30;
    w.follow = true;
    for (auto _ : state) {
        MaskScan::Result r = MaskScan(w, 0, 0xFFFFFF).run();
        benchmark::DoNotOptimize(r.percent);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * qint64(size + 1) * (size + 1));
    state.counters["Mpx/s"] = benchmark::Counter(double(state.iterations()) * size * size / 1e6,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineScan)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

// For scale: the same mask made the obvious way, one pixel at a time down each column.
static void BM_PlainColumnWalk(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QImage sprite = benchSprite(size);
    QImage mask(sprite.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        for (int x = 0; x < size; ++x)
            for (int y = 0; y < size; ++y)
                mask.setPixel(x, y, sprite.pixel(x, y) == 0xFF000000u ? 0xFFFFFFFFu : 0xFF000000u);
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(double(state.iterations()) * size * size / 1e6,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainColumnWalk)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
