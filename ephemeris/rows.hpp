#pragma once

#include "ephemeris/apparent_place.hpp"
#include "ephemeris/kepler.hpp"
#include "ephemeris/position.hpp"
#include "ephemeris/reduction.hpp"
#include "ephemeris/rotation.hpp"

// The rows of the ephemeris in the two forms of the computation: daily_row, the literal reference, one
// row with every step as written; and daily_rows, the production batch, a few rows at once with each
// step across the batch and the exact shortcuts (Kepler's early stop, the counted reduction, the fixed
// rotations' cosines and sines formed once). The two give the same bits.

// What a run holds fixed from its first row to its last: both orbits, the cosines and sines of their
// fixed angles and of the obliquity, and pi and two pi as the driver formed them.
struct RunGeometry {
    Orbit target;
    Orbit observer;
    OrbitTurns target_turns;
    OrbitTurns observer_turns;
    AxisTurn equator;
    double obli;  // obliquity of the ecliptic (radians)
    double pi;
    double dospi;
    TurnSteps steps;  // the mean anomaly reduction's constants for dospi
};

RunGeometry run_geometry(const Orbit& target, const Orbit& observer, double obli, double pi, double dospi);

// The eight values of one ephemeris row, in the order they are written.
struct DailyRow {
    double tiempo;  // days
    double har;     // right ascension (hours)
    double gdec;    // declination (degrees)
    double r2;      // Sun-target distance (AU)
    double delta;   // observer-target distance (AU)
    double elong;   // elongation (degrees)
    double afase;   // phase angle (degrees)
    double fase;    // illuminated fraction
};

// The literal row of day tiempo (days): the target's position, then the observer's, then what the
// observer sees.
DailyRow daily_row(const RunGeometry& run, double tiempo);

// The production rows of a batch of days: rows[k] has the bits of daily_row(run, tiempos[k]) for k
// below count (1 to kBatchRows). The Kepler chains of both bodies over the whole batch advance in
// lockstep, and each later step runs across the batch.
inline constexpr int kBatchRows = 8;
static_assert(2 * kBatchRows <= kMaxKeplerLanes && 2 * kBatchRows <= kMaxReductionLanes);
static_assert(kBatchRows <= kMaxPlaces);
void daily_rows(const RunGeometry& run, const double* tiempos, int count, DailyRow* rows);
