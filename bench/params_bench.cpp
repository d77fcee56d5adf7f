// Parameter model costs: the description load (once at start-up) and a settings
// round trip of the largest text the controller can send (1015 characters).
#include "Embedded.h"
#include "ParameterList.h"

#include <benchmark/benchmark.h>

namespace {

std::string description() { return embeddedText("PARAMETER_LIST"); }

void BM_LoadDescription(benchmark::State& state) {
    const std::string doc = description();
    for (auto _ : state) {
        ParameterList list(doc);
        benchmark::DoNotOptimize(list.parameters().data());
    }
}
BENCHMARK(BM_LoadDescription);

// Every parameter set away from its default, padded to exactly 1015 characters.
std::string fullText(ParameterList& list) {
    std::string text;
    for (const auto& p : list.parameters())
        text += p.key + "=" + (p.type == ParameterType::String ? "12345" : "3") + "\n";
    while (text.size() < 1015)
        text += "Pad=" + std::string(std::min<size_t>(20, 1015 - text.size() - (1015 - text.size() > 5 ? 5 : 0)), 'x') + "\n";
    text.resize(1015);
    return text;
}

void BM_SettingsRoundTrip(benchmark::State& state) {
    ParameterList list(description());
    const std::string text = fullText(list);
    for (auto _ : state) {
        list.LoadSettingsText(text);
        std::string out = list.SettingsText();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SettingsRoundTrip);

} // namespace

BENCHMARK_MAIN();
