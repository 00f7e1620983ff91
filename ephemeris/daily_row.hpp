#pragma once

#include "ephemeris/apparent_place.hpp"
#include "ephemeris/orbit.hpp"

// What a run holds fixed from its first row to its last: both orbits, the cosines and sines of their
// fixed angles and of the obliquity, and pi and two pi as the driver formed them.
struct RunGeometry {
    Orbit target;
    Orbit observer;
    OrbitTurns target_turns;
    OrbitTurns observer_turns;
    AxisTurn equator;
    double obli;   // obliquity of the ecliptic (radians)
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

// The row of day tiempo (days): the target's position, then the observer's, then what the observer sees.
DailyRow daily_row(const RunGeometry& run, double tiempo);

// The same by the literal steps and by the exact shortcuts; daily_row takes the one the build chose.
DailyRow daily_row_literal(const RunGeometry& run, double tiempo);
DailyRow daily_row_fast(const RunGeometry& run, double tiempo);

// The rows of a batch of days, computed together while each row is still written on its own: the
// Kepler chains of both bodies over the whole batch advance in lockstep, and each later stage runs
// across the batch.
inline constexpr int kBatchRows = kMaxKeplerLanes / 2;
static_assert(kBatchRows <= kMaxPlaces);

// rows[k] = daily_row(run, tiempos[k]) for k below count (1 to kBatchRows).
void daily_rows(const RunGeometry& run, const double* tiempos, int count, DailyRow* rows);

// rows[k] = daily_row_fast(run, tiempos[k]), bit for bit.
void daily_rows_fast(const RunGeometry& run, const double* tiempos, int count, DailyRow* rows);
