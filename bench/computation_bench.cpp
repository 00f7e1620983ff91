// The steps of one row, the fast forms beside the literal ones.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ephemeris/apparent_place.hpp"
#include "ephemeris/orbit.hpp"
#include "recordio/item_text.hpp"

namespace {

const double kPi = std::atan(1.0) * 4.0;
const double kDospi = kPi + kPi;
const double kObli = (kPi * 23.439291) / 180.0;

// Mean anomalies spread over one turn, so that no single easy case decides the figure.
std::vector<double> mean_anomalies() {
    std::vector<double> values;
    for (int i = 0; i < 64; ++i) {
        values.push_back((kDospi * i) / 64.0);
    }
    return values;
}

template <void (*Kepler)(double&, double&, double&)>
void kepler_over_one_turn(benchmark::State& state, double exce) {
    const std::vector<double> values = mean_anomalies();
    std::size_t i = 0;
    for (auto _ : state) {
        double anomedia = values[i++ % values.size()];
        double anomex;
        Kepler(exce, anomedia, anomex);
        benchmark::DoNotOptimize(anomex);
    }
}

void BM_KeplerFast(benchmark::State& state, double exce) { kepler_over_one_turn<kepler_fast>(state, exce); }
void BM_KeplerLiteral(benchmark::State& state, double exce) { kepler_over_one_turn<kepler_literal>(state, exce); }
BENCHMARK_CAPTURE(BM_KeplerFast, earth, 0.01671123);
BENCHMARK_CAPTURE(BM_KeplerLiteral, earth, 0.01671123);
BENCHMARK_CAPTURE(BM_KeplerFast, mars, 0.0933941);
BENCHMARK_CAPTURE(BM_KeplerLiteral, mars, 0.0933941);
BENCHMARK_CAPTURE(BM_KeplerFast, comet, 0.96714);
BENCHMARK_CAPTURE(BM_KeplerLiteral, comet, 0.96714);

// A mean anomaly of about state.range(0) turns, positive and negative.
template <double (*Reduce)(double, double)>
void reduce_turns(benchmark::State& state) {
    const double turns = static_cast<double>(state.range(0));
    const double values[] = {(turns * kDospi) + 1.234, -((turns * kDospi) + 1.234)};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Reduce(values[i++ & 1], kDospi));
    }
}

void BM_ReduceFast(benchmark::State& state) { reduce_turns<reduce_mean_anomaly_fast>(state); }
void BM_ReduceLiteral(benchmark::State& state) { reduce_turns<reduce_mean_anomaly_literal>(state); }
const TurnSteps kSteps = turn_steps(kDospi);
double reduce_with_steps(double am, double) { return reduce_mean_anomaly_steps(am, kSteps); }
void BM_ReduceSteps(benchmark::State& state) { reduce_turns<reduce_with_steps>(state); }
BENCHMARK(BM_ReduceFast)->Arg(1)->Arg(1000)->Arg(1000000)->Arg(int64_t{1} << 52);
BENCHMARK(BM_ReduceSteps)->Arg(1)->Arg(1000)->Arg(1000000)->Arg(int64_t{1} << 52);
BENCHMARK(BM_ReduceLiteral)->Arg(1)->Arg(1000)->Arg(1000000);

Orbit orbit_of(double a, double e, double ync, double w, double od, double ame, double t) {
    const auto rad = [](double degrees) { return (degrees * kPi) / 180.0; };
    const double vn = std::pow(1.0, 0.5) * (0.01720209895 / std::pow(a, 1.5));
    return Orbit{a, e, rad(ync), rad(w), rad(od), rad(ame), t, vn, (1.0 - (e * e)) * a};
}

const Orbit kMars = orbit_of(1.52371034, 0.0933941, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
const Orbit kEarth = orbit_of(1.00000261, 0.01671123, -0.00001531, 102.93768193, 0.0, -2.47311027, 2451545.0);

// The computation of one row of the shipped example, days counted from state.range(0) after the epoch.
void BM_RowFast(benchmark::State& state) {
    const OrbitTurns turns2 = orbit_turns(kMars);
    const OrbitTurns turns1 = orbit_turns(kEarth);
    const AxisTurn equator = axis_turn(-kObli);
    double tiempo = 2451545.0 + static_cast<double>(state.range(0));
    for (auto _ : state) {
        tiempo = tiempo + 1.0;
        const BodyPosition body2 = body_position_fast(tiempo, kMars, turns2, kPi, kDospi);
        const BodyPosition body1 = body_position_fast(tiempo, kEarth, turns1, kPi, kDospi);
        benchmark::DoNotOptimize(apparent_place_fast(body2, body1, equator, kPi, kDospi));
    }
}

void BM_RowLiteral(benchmark::State& state) {
    double tiempo = 2451545.0 + static_cast<double>(state.range(0));
    for (auto _ : state) {
        tiempo = tiempo + 1.0;
        const BodyPosition body2 = body_position_literal(tiempo, kMars, kPi, kDospi);
        const BodyPosition body1 = body_position_literal(tiempo, kEarth, kPi, kDospi);
        benchmark::DoNotOptimize(apparent_place(body2, body1, kObli, kPi, kDospi));
    }
}
BENCHMARK(BM_RowFast)->Arg(0)->Arg(1000000);
BENCHMARK(BM_RowLiteral)->Arg(0)->Arg(1000000);

// The text of one row: eight items laid into lines under 80 characters, as the free-format write does.
void BM_RowText(benchmark::State& state) {
    const double row[8] = {2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441, 47.6050457, 31.4665953,
                           0.926472324};
    char line[256];
    for (auto _ : state) {
        std::size_t position = 0;
        std::size_t line_start = 0;
        for (const double value : row) {
            char text[kItemTextCapacity];
            const std::size_t n = format_item(value, text);
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
BENCHMARK(BM_RowText);

}  // namespace
