// The costly steps of a row in their production forms beside the literal ones.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ephemeris/kepler.hpp"
#include "ephemeris/reduction.hpp"
#include "ephemeris/rows.hpp"
#include "ephemeris/test_support.hpp"
#include "recordio/item_text.hpp"

namespace {

const double kDospi = kModel.dospi;

// Mean anomalies spread over one turn, so that no single easy case decides the figure.
std::vector<double> mean_anomalies() {
    std::vector<double> values;
    for (int i = 0; i < 64; ++i) {
        values.push_back((kDospi * i) / 64.0);
    }
    return values;
}

// The production form on lanes of one orbit at once, as a batch of rows takes it.
void BM_KeplerLanes(benchmark::State& state, double exce) {
    const std::vector<double> values = mean_anomalies();
    double exces[kMaxKeplerLanes];
    std::fill(exces, exces + kMaxKeplerLanes, exce);
    std::size_t i = 0;
    for (auto _ : state) {
        double anomex[kMaxKeplerLanes];
        kepler_lanes(exces, values.data() + (i++ % 4) * kMaxKeplerLanes, anomex, kMaxKeplerLanes);
        benchmark::DoNotOptimize(anomex);
    }
    state.SetItemsProcessed(state.iterations() * kMaxKeplerLanes);
}

void BM_KeplerLiteral(benchmark::State& state, double exce) {
    const std::vector<double> values = mean_anomalies();
    std::size_t i = 0;
    for (auto _ : state) {
        double anomedia = values[i++ % values.size()];
        double anomex;
        kepler(exce, anomedia, anomex);
        benchmark::DoNotOptimize(anomex);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_KeplerLanes, earth, 0.01671123);
BENCHMARK_CAPTURE(BM_KeplerLiteral, earth, 0.01671123);
BENCHMARK_CAPTURE(BM_KeplerLanes, mars, 0.0933941);
BENCHMARK_CAPTURE(BM_KeplerLiteral, mars, 0.0933941);
BENCHMARK_CAPTURE(BM_KeplerLanes, comet, 0.96714);
BENCHMARK_CAPTURE(BM_KeplerLiteral, comet, 0.96714);

// A mean anomaly of about state.range(0) turns, positive and negative.
std::vector<double> turns_of(const benchmark::State& state) {
    const double turns = static_cast<double>(state.range(0));
    return {(turns * kDospi) + 1.234, -((turns * kDospi) + 1.234)};
}

void BM_ReduceLanes(benchmark::State& state) {
    const std::vector<double> values = turns_of(state);
    const TurnSteps steps = turn_steps(kDospi);
    std::size_t i = 0;
    for (auto _ : state) {
        double am = values[i++ & 1];
        reduce_mean_anomaly_lanes(&am, 1, steps);
        benchmark::DoNotOptimize(am);
    }
}

void BM_ReduceLiteral(benchmark::State& state) {
    const std::vector<double> values = turns_of(state);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reduce_mean_anomaly(values[i++ & 1], kDospi));
    }
}
BENCHMARK(BM_ReduceLanes)->Arg(1)->Arg(1000)->Arg(1000000)->Arg(int64_t{1} << 52);
BENCHMARK(BM_ReduceLiteral)->Arg(1)->Arg(1000)->Arg(1000000);

// The rows of the shipped example, days counted from state.range(0) after the epoch, a batch at a time.
void BM_RowsBatch(benchmark::State& state) {
    const RunGeometry run = run_geometry(mars(), earth(), kModel.obli, kModel.pi, kDospi);
    double tiempo = 2451545.0 + static_cast<double>(state.range(0));
    for (auto _ : state) {
        double tiempos[kBatchRows];
        for (double& t : tiempos) {
            tiempo = tiempo + 1.0;
            t = tiempo;
        }
        DailyRow rows[kBatchRows];
        daily_rows(run, tiempos, kBatchRows, rows);
        benchmark::DoNotOptimize(rows);
    }
    state.SetItemsProcessed(state.iterations() * kBatchRows);
}

void BM_RowLiteral(benchmark::State& state) {
    const RunGeometry run = run_geometry(mars(), earth(), kModel.obli, kModel.pi, kDospi);
    double tiempo = 2451545.0 + static_cast<double>(state.range(0));
    for (auto _ : state) {
        tiempo = tiempo + 1.0;
        benchmark::DoNotOptimize(daily_row(run, tiempo));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RowsBatch)->Arg(0)->Arg(1000000);
BENCHMARK(BM_RowLiteral)->Arg(0)->Arg(1000000);

// The text of one row: eight items laid into lines under 80 characters, as the free-format write does.
void BM_RowText(benchmark::State& state, ItemTextForm form) {
    const double row[8] = {2451545.0,  22.0352961, -13.1786492, 1.39115922,
                           1.84956441, 47.6050457, 31.4665953,  0.926472324};
    char line[256];
    for (auto _ : state) {
        std::size_t position = 0;
        std::size_t line_start = 0;
        for (const double value : row) {
            char text[kItemTextCapacity];
            const std::size_t n = format_item(value, text, form);
            if (position - line_start + n >= 80 && position > line_start) {
                line[position++] = '\n';
                line_start = position;
            }
            std::memcpy(line + position, text, n);
            position += n;
        }
        line[position++] = '\n';
        benchmark::DoNotOptimize(line);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(BM_RowText, fast, ItemTextForm::fast);
BENCHMARK_CAPTURE(BM_RowText, literal, ItemTextForm::literal);

}  // namespace
