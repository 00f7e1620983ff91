#include "ephemeris/rows.hpp"

namespace {

OrbitTurns orbit_turns(const Orbit& orbit) {
    return OrbitTurns{axis_turn(-orbit.w), axis_turn(-orbit.ync), axis_turn(-orbit.od)};
}

DailyRow row_of(double tiempo, const BodyPosition& target, const ApparentPlace& place) {
    return DailyRow{tiempo, place.har, place.gdec, target.r, place.delta, place.elong, place.afase, place.fase};
}

}  // namespace

RunGeometry run_geometry(const Orbit& target, const Orbit& observer, double obli, double pi, double dospi) {
    // The rotations are by fixed angles: their cosines and sines are formed once, not in every row.
    return RunGeometry{target, observer, orbit_turns(target), orbit_turns(observer), axis_turn(-obli), obli,
                       pi,     dospi,    turn_steps(dospi)};
}

DailyRow daily_row(const RunGeometry& run, double tiempo) {
    const BodyPosition body2 = body_position(tiempo, run.target, run.pi, run.dospi);
    const BodyPosition body1 = body_position(tiempo, run.observer, run.pi, run.dospi);
    return row_of(tiempo, body2, apparent_place(body2, body1, run.obli, run.pi, run.dospi));
}

void daily_rows(const RunGeometry& run, const double* tiempos, int count, DailyRow* rows) {
    // Lanes 0 to count - 1 are the target on each day, lanes count to 2 count - 1 the observer.
    double exce[2 * kBatchRows] = {}, am[2 * kBatchRows] = {}, aex[2 * kBatchRows] = {};
    for (int k = 0; k < count; ++k) {
        exce[k] = run.target.e;
        exce[count + k] = run.observer.e;
        am[k] = mean_anomaly(tiempos[k], run.target);
        am[count + k] = mean_anomaly(tiempos[k], run.observer);
    }
    reduce_mean_anomaly_lanes(am, 2 * count, run.steps);
    kepler_lanes(exce, am, aex, 2 * count);
    BodyPosition body2[kBatchRows], body1[kBatchRows];
    body_positions(run.target, run.target_turns, am, aex, count, run.pi, run.dospi, body2);
    body_positions(run.observer, run.observer_turns, am + count, aex + count, count, run.pi, run.dospi, body1);
    ApparentPlace places[kBatchRows];
    apparent_places(body2, body1, count, run.equator, run.pi, run.dospi, places);
    for (int k = 0; k < count; ++k) {
        rows[k] = row_of(tiempos[k], body2[k], places[k]);
    }
}
