// The window query of each refresh on GNOME while windows move (the extension signals a change at
// every step, so its answer is read again): a GetWindows reply of 40 windows turned into window
// facts, and the window of a process found among them.
#include <benchmark/benchmark.h>
#include <gio/gio.h>

#include <string>

#include "platform/desktop/gnome/extension_facts.h"

namespace {

namespace dt = tavik::desktop;

GVariant* reply(int n) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(tissiiiiiiiib)"));
    for (int i = 0; i < n; ++i) {
        const std::string title = "Document " + std::to_string(i) + " - Editor";
        g_variant_builder_add(&b, "(tissiiiiiiiib)", guint64(1000 + i), 2000 + i, "org.example.Editor", title.c_str(),
                              10 * i, 5 * i, 800, 600, 10 * i + 2, 5 * i + 30, 796, 568, i == n - 1);
    }
    return g_variant_ref_sink(g_variant_new("(a(tissiiiiiiiib))", &b));
}

void BM_FactsFromReply(benchmark::State& state) {
    GVariant* r = reply(40);
    for (auto _ : state) {
        auto w = dt::gnome::factsFromReply(r);
        benchmark::DoNotOptimize(w);
    }
    g_variant_unref(r);
}
BENCHMARK(BM_FactsFromReply);

void BM_WindowOfProcess(benchmark::State& state) {
    GVariant* r = reply(40);
    const auto w = dt::gnome::factsFromReply(r);
    g_variant_unref(r);
    for (auto _ : state) benchmark::DoNotOptimize(dt::windowOfProcess(*w, 2039, "Document 39 - Editor"));
}
BENCHMARK(BM_WindowOfProcess);

}  // namespace

BENCHMARK_MAIN();
