#include "ephemeris/daily_row.hpp"

namespace {

DailyRow row_of(double tiempo, const BodyPosition& target, const ApparentPlace& place) {
    return DailyRow{tiempo, place.har, place.gdec, target.r, place.delta, place.elong, place.afase, place.fase};
}

}  // namespace

RunGeometry run_geometry(const Orbit& target, const Orbit& observer, double obli, double pi, double dospi) {
    // The rotations are by fixed angles: their cosines and sines are formed once, not in every row.
    return RunGeometry{target, observer, orbit_turns(target), orbit_turns(observer), axis_turn(-obli), obli, pi,
                       dospi};
}

DailyRow daily_row(const RunGeometry& run, double tiempo) {
    if constexpr (kLiteralPath) {
        return daily_row_literal(run, tiempo);
    } else {
        return daily_row_fast(run, tiempo);
    }
}

DailyRow daily_row_literal(const RunGeometry& run, double tiempo) {
    const BodyPosition body2 = body_position_literal(tiempo, run.target, run.pi, run.dospi);
    const BodyPosition body1 = body_position_literal(tiempo, run.observer, run.pi, run.dospi);
    return row_of(tiempo, body2, apparent_place(body2, body1, run.obli, run.pi, run.dospi));
}

DailyRow daily_row_fast(const RunGeometry& run, double tiempo) {
    const BodyPosition body2 = body_position_fast(tiempo, run.target, run.target_turns, run.pi, run.dospi);
    const BodyPosition body1 = body_position_fast(tiempo, run.observer, run.observer_turns, run.pi, run.dospi);
    return row_of(tiempo, body2, apparent_place_fast(body2, body1, run.equator, run.pi, run.dospi));
}
