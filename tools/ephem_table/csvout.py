"""The table as CSV, and the texts of its values: numbers that read back as the same doubles, calendar
dates (TDB, and UTC beside them) and sexagesimal angles."""

import csv
import math
from itertools import islice
from typing import Iterable, Optional, Sequence, TextIO, Tuple

from .constants import OBLIQUITY_DEG
from .dates import calendar_date
from .row import Row
from .timescales import utc_dates

# A column after the table's own and the model error's: its header and its text a row.
Column = Tuple[str, Sequence[str]]

CSV_HEADER = ("julian_date_tdb", "date_tdb", "date_utc", "ra_hours", "ra_hms", "dec_degrees", "dec_dms",
              "sun_distance_au", "observer_distance_au", "elongation_deg", "phase_angle_deg",
              "illuminated_fraction", "v_mag", "model_error_arcsec", "observer_error_km")

# The first line of the CSV: what the places are. Without a comma it is a row of one cell for a
# spreadsheet, and readers of CSV that know comments (comment="#") skip it.
CSV_FRAME_NOTE = ("# ephem table: geometric places (no light time or aberration or nutation); right ascension and "
                  f"declination referred to the mean equator and equinox of J2000 (fixed obliquity {OBLIQUITY_DEG} deg); "
                  "dates on the scale of the epochs of DATOS.DAT (TDB); date_utc from TDB taken as TT (within 2 ms) "
                  "and ERFA's leap seconds, empty before 1960 (no UTC)")

# Rows whose UTC dates are converted together.
UTC_BLOCK = 4096

# Angles beyond this are not written in sexagesimal form: they are no place on the sky, and their
# seconds would overflow the rounding.
LARGEST_ANGLE = 1e9


def sexagesimal(value: float, fraction_digits: int) -> Tuple[str, int, int, str]:
    """(sign, units, minutes, seconds text) of a value, its seconds rounded to the given digits."""
    scale = 10 ** fraction_digits
    total = round(abs(value) * 3600 * scale)
    units, rest = divmod(total, 3600 * scale)
    minutes, seconds = divmod(rest, 60 * scale)
    if fraction_digits:
        seconds_text = f"{seconds // scale:02d}.{seconds % scale:0{fraction_digits}d}"
    else:
        seconds_text = f"{seconds:02d}"
    sign = "-" if value < 0 and total != 0 else "+"
    return sign, units, minutes, seconds_text


def hours_hms(hours: float) -> str:
    """Right ascension in hours as "hh:mm:ss.ss", wrapped into 0 to 24 hours ("" if no place)."""
    if not math.isfinite(hours) or abs(hours) > LARGEST_ANGLE:
        return ""
    _, units, minutes, seconds = sexagesimal(hours, 2)
    # Rounding can reach 24h, and a right ascension of exactly 24 h is 0 h.
    return f"{units % 24:02d}:{minutes:02d}:{seconds}"


def degrees_dms(degrees: float) -> str:
    """Declination in degrees as "+dd:mm:ss.s" with its sign always shown ("" if no place)."""
    if not math.isfinite(degrees) or abs(degrees) > LARGEST_ANGLE:
        return ""
    sign, units, minutes, seconds = sexagesimal(degrees, 1)
    return f"{sign}{units:02d}:{minutes:02d}:{seconds}"


def number_text(value: float) -> str:
    """A value as CSV text: the shortest text that reads back as the same double; NaN, inf, -inf."""
    if math.isnan(value):
        return "NaN"
    return repr(value)


def magnitude_text(value: float) -> str:
    """A magnitude to a hundredth, as formulas fitted to a few hundredths give it; "" where none."""
    return f"{value:.2f}" if math.isfinite(value) else ""


def bound_text(value: float, digits: int) -> str:
    """A bound rounded up to the given decimals, so that it never says less than it is; "" where none."""
    if not math.isfinite(value):
        return ""
    scale = 10 ** digits
    return f"{math.ceil(value * scale) / scale:.{digits}f}"


def csv_record(row: Row, date_utc: str, v_mag: float = math.nan, model_error: float = math.nan,
               observer_error: float = math.nan) -> Tuple[str, ...]:
    return (number_text(row.jd_tdb), calendar_date(row.jd_tdb), date_utc, number_text(row.ra_hours),
            hours_hms(row.ra_hours), number_text(row.dec_deg), degrees_dms(row.dec_deg),
            number_text(row.sun_distance_au), number_text(row.observer_distance_au),
            number_text(row.elongation_deg), number_text(row.phase_angle_deg),
            number_text(row.illuminated_fraction), magnitude_text(v_mag), bound_text(model_error, 3),
            bound_text(observer_error, 1))


def write_csv(rows: Iterable[Row], out: TextIO, magnitudes: Optional[Sequence[float]] = None,
              magnitude_note: str = "", rows_note: str = "",
              errors: Optional[Tuple[Sequence[float], Sequence[float]]] = None, errors_note: str = "",
              more: Sequence[Column] = (), more_note: str = "") -> None:
    """The CSV of the rows; v_mag from `magnitudes`, a value a row (empty where NAN or without them),
    and what it is said after the frame in the first line, after what `rows_note` says of the rows
    (their step, when it is not a day); model_error_arcsec and observer_error_km from `errors` (a value
    a row of each, rounded up; empty without them), and what they are said; then the columns `more`,
    which `more_note` describes."""
    out.write(CSV_FRAME_NOTE + (f"; {rows_note}" if rows_note else "") +
              (f"; v_mag: {magnitude_note}" if magnitude_note else "") +
              (f"; {errors_note}" if errors_note else "") + (f"; {more_note}" if more_note else "") + "\n")
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(CSV_HEADER + tuple(name for name, _ in more))
    remaining = iter(rows)
    done = 0
    while True:
        block = list(islice(remaining, UTC_BLOCK))
        if not block:
            break
        for k, (row, date_utc) in enumerate(zip(block, utc_dates([row.jd_tdb for row in block]))):
            v_mag = magnitudes[done + k] if magnitudes is not None else math.nan
            model_error, observer_error = ((errors[0][done + k], errors[1][done + k]) if errors is not None
                                           else (math.nan, math.nan))
            writer.writerow(csv_record(row, date_utc, v_mag, model_error, observer_error) +
                            tuple(texts[done + k] for _, texts in more))
        done += len(block)
