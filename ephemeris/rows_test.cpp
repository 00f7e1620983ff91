#include "ephemeris/rows.hpp"

#include <string>

#include <gtest/gtest.h>

#include "ephemeris/test_support.hpp"

namespace {

void expect_same_row(const DailyRow& production, const DailyRow& literal, const std::string& at) {
    EXPECT_SAME_BITS(production.tiempo, literal.tiempo, at);
    EXPECT_SAME_BITS(production.har, literal.har, at);
    EXPECT_SAME_BITS(production.gdec, literal.gdec, at);
    EXPECT_SAME_BITS(production.r2, literal.r2, at);
    EXPECT_SAME_BITS(production.delta, literal.delta, at);
    EXPECT_SAME_BITS(production.elong, literal.elong, at);
    EXPECT_SAME_BITS(production.afase, literal.afase, at);
    EXPECT_SAME_BITS(production.fase, literal.fase, at);
}

// The days from tini on, as the driver forms them, in batches of every size from 1 to kBatchRows in
// turn, against the literal row of each day.
void expect_rows_agree(const Orbit& target, const Orbit& observer, double tini, int rows) {
    const RunGeometry run = run_geometry(target, observer, kModel.obli, kModel.pi, kModel.dospi);
    double tiempo = tini - 1.0;
    for (int pass = 0, count = 1; pass < rows; pass += count, count = 1 + (count % kBatchRows)) {
        double tiempos[kBatchRows];
        for (int k = 0; k < count; ++k) {
            tiempo = tiempo + 1.0;
            tiempos[k] = tiempo;
        }
        DailyRow batch[kBatchRows];
        daily_rows(run, tiempos, count, batch);
        for (int k = 0; k < count; ++k) {
            const std::string at = "batch of " + std::to_string(count) + ", tiempo " + std::to_string(tiempos[k]);
            expect_same_row(batch[k], daily_row(run, tiempos[k]), at);
        }
    }
}

TEST(Rows, BatchMatchesTheLiteralRowsNearAndFarFromTheEpoch) {
    expect_rows_agree(mars(), earth(), 2451545.0, 800);
    expect_rows_agree(mars(), earth(), 2451545.0 + 1e6, 50);
    expect_rows_agree(mars(), earth(), 2451545.0 - 1e6, 50);
    expect_rows_agree(comet(), earth(), 2446400.0, 800);
}

// Orbits whose rows take the mended steps (a circle, nearly parabolic comets through perihelion, a row
// exactly at perihelion) or have no place (a hyperbola, a zero semi-major axis, the same body twice).
TEST(Rows, BatchMatchesTheLiteralRowsWhereTheDescribedFormulasBreakDown) {
    const Orbit circular = orbit_of(1.52371034, 0.0, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
    const Orbit hale_bopp = orbit_of(186.2, 0.995086, 89.429, 130.5887, 282.4707, 0.0, 2450539.6356);
    const Orbit hyakutake = orbit_of(2257.07, 0.999898, 124.9218, 130.1734, 188.0441, 0.0, 2450204.8943);
    const Orbit hyperbola = orbit_of(1.52371034, 1.2, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
    const Orbit no_axis = orbit_of(0.0, 0.0933941, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
    expect_rows_agree(circular, earth(), 2451545.0, 20);
    expect_rows_agree(hale_bopp, earth(), 2450539.6356 - 40.0, 81);
    expect_rows_agree(hyakutake, earth(), 2450204.8943 - 40.0, 81);
    expect_rows_agree(hyperbola, earth(), 2451545.0, 20);
    expect_rows_agree(earth(), hyperbola, 2451545.0, 20);
    expect_rows_agree(no_axis, earth(), 2451545.0, 20);
    expect_rows_agree(earth(), earth(), 2451545.0, 20);
}

}  // namespace
