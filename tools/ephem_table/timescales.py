"""UTC from TDB: the dates of the table on the civil scale of clocks and observing logs.

TDB is taken as TT: the two differ by periodic terms under 2 ms, far below the second to which dates
are written. TT is TAI + 32.184 s exactly; TAI - UTC comes from ERFA's table of leap seconds
(erfa.dat, python3-erfa), which also holds the drifting offsets of 1960 to 1971. A date after ERFA's
last leap second assumes no other was added since.

UTC began on 1960-01-01. Before it a date has no UTC, and its text is empty: universal time of earlier
dates would be UT1 from a model of Delta T (TT - UT1), which is another scale and an estimate (to about a
second around 1800, tens of seconds around 1600, several minutes in antiquity), and a column that holds
UTC should never hold such an estimate under UTC's name.
"""

import math
import warnings
from typing import List, Optional, Sequence, Tuple

from .dates import LARGEST_JD

try:
    import erfa
    import numpy
    HAVE_ERFA = True
except ImportError:  # python3-erfa is optional: without it the UTC dates are empty
    HAVE_ERFA = False

# 1960-01-01 00:00 UTC as a Julian date on the scale of the table: TAI - UTC was then
# 1.4178180 s - 366 days * 0.0012960 s a day = 0.9434820 s, and TT - TAI is 32.184 s.
FIRST_UTC_JD_TDB = 2436934.5 + (0.9434820 + 32.184) / 86400.0


def utc_available() -> bool:
    """Whether UTC can be told: ERFA is installed."""
    return HAVE_ERFA


def utc_parts(tt: "numpy.ndarray") -> "Tuple[numpy.ndarray, numpy.ndarray]":
    """UTC as two-part Julian dates of Julian dates on the scale of TT (TDB taken as TT), each from 1960 on;
    needs ERFA."""
    with warnings.catch_warnings():
        # ERFA calls a year more than five past its table "dubious": the leap seconds are then its last.
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        tai1, tai2 = erfa.tttai(tt, 0.0)
        utc1, utc2 = erfa.taiutc(tai1, tai2)
    return utc1, utc2


def utc_dates(jds_tdb: Sequence[float]) -> List[str]:
    """The UTC date and time, to the second, of each Julian date (TDB): "2000-01-01 11:58:56", with a
    leap second written as 23:59:60; "" before 1960, for a value that is not a date, or without ERFA.
    The dates are converted together, as arrays, so that a long table takes little time."""
    texts = [""] * len(jds_tdb)
    if not HAVE_ERFA or not texts:
        return texts
    tt = numpy.asarray(jds_tdb, dtype=float)
    with numpy.errstate(invalid="ignore"):
        defined = numpy.isfinite(tt) & (tt >= FIRST_UTC_JD_TDB) & (tt < LARGEST_JD)
    indexes = numpy.flatnonzero(defined)
    if not len(indexes):
        return texts
    utc1, utc2 = utc_parts(tt[indexes])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)
        years, months, days, times = erfa.d2dtf("UTC", 0, utc1, utc2)
    for index, year, month, day, time in zip(indexes.tolist(), years.tolist(), months.tolist(), days.tolist(),
                                             times.tolist()):
        hour, minute, second, _ = time
        texts[index] = f"{year:04d}-{month:02d}-{day:02d} {hour:02d}:{minute:02d}:{second:02d}"
    return texts


def utc_date(jd_tdb: float) -> Optional[str]:
    """The UTC date and time of one Julian date (TDB), or None where utc_dates gives ""."""
    if not math.isfinite(jd_tdb):
        return None
    return utc_dates([jd_tdb])[0] or None


def last_leap_second_jd() -> Optional[float]:
    """The Julian date (UTC) of the last change of TAI - UTC in ERFA's table, or None without ERFA."""
    if not HAVE_ERFA:
        return None
    year, month, _ = erfa.leap_seconds.get()[-1]
    return float(sum(erfa.cal2jd(int(year), int(month), 1)))


def leap_second_note(jds_tdb: Sequence[float]) -> str:
    """What UTC after ERFA's last leap second assumes, when some of the dates lie beyond it; else ""."""
    last = last_leap_second_jd()
    if last is None or not any(math.isfinite(t) and last < t < LARGEST_JD for t in jds_tdb):
        return ""
    year, month, day, _ = erfa.jd2cal(last, 0.0)
    return (f"after {int(year):04d}-{int(month):02d}-{int(day):02d}, the last leap second in ERFA's table, UTC "
            f"assumes none was added since")
