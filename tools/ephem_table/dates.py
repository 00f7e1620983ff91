"""Dates: Julian dates and the calendar, on the time scale of the epochs in DATOS.DAT (TDB).

Julian dates are days from -4712-01-01 12:00; calendar dates are Gregorian from 1582-10-15 on and Julian
before, as astronomers date them, with astronomical year numbers (0 is 1 BC, -1 is 2 BC). No function
here changes the time scale: a date in TDB gives a date in TDB.
"""

import math
import re
from typing import Tuple

from .errors import DataError

# The first Julian day number of the Gregorian calendar (1582-10-15).
FIRST_GREGORIAN_DAY = 2299161

# ephem prints its times with nine significant digits, which keep the day up to a Julian date of
# 999,999,999; dates beyond are refused rather than read as some other day. The calendar's bound, a
# million years either way, lies well inside.
LARGEST_JD = 1e9
LARGEST_YEAR = 1_000_000

# A calendar date with a time of day, or with a fraction of the day as orbit listings write the time of
# perihelion (1998-02-28.0977).
DATE = re.compile(r"([+-]?\d{4,})-(\d{1,2})-(\d{1,2})(?:(\.\d*)|[T ](\d{1,2}):(\d{2})(?::(\d{2}(?:\.\d*)?))?)?")
DATE_FORMS = "YYYY-MM-DD[THH:MM[:SS]], YYYY-MM-DD.ddd"

Date = Tuple[int, int, int]


class DateError(DataError):
    """A text that is no date, or a date beyond the bounds above; the text names it."""


def gregorian_from_day(day: int) -> Date:
    """(year, month, day) of a Julian day number in the Gregorian calendar, any integer day."""
    a = day + 32044
    b = (4 * a + 3) // 146097
    c = a - (146097 * b) // 4
    return _finish_calendar(c, 100 * b)


def julian_calendar_from_day(day: int) -> Date:
    """(year, month, day) of a Julian day number in the Julian calendar, any integer day."""
    return _finish_calendar(day + 32082, 0)


def _finish_calendar(c: int, century_years: int) -> Date:
    d = (4 * c + 3) // 1461
    e = c - (1461 * d) // 4
    m = (5 * e + 2) // 153
    day = e - (153 * m + 2) // 5 + 1
    month = m + 3 - 12 * (m // 10)
    year = century_years + d - 4800 + m // 10
    return year, month, day


def date_from_day(day: int) -> Date:
    """(year, month, day) of a Julian day number: Gregorian from 1582-10-15 on, Julian before."""
    if day >= FIRST_GREGORIAN_DAY:
        return gregorian_from_day(day)
    return julian_calendar_from_day(day)


def day_number(year: int, month: int, day: int) -> int:
    """The Julian day number of a calendar date: Gregorian from 1582-10-15 on, Julian before."""
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    common = day + (153 * m + 2) // 5 + 365 * y + y // 4
    gregorian = common - y // 100 + y // 400 - 32045
    if gregorian >= FIRST_GREGORIAN_DAY:
        return gregorian
    return common - 32083


def days_in_month(year: int, month: int) -> int:
    return day_number(year + month // 12, month % 12 + 1, 1) - day_number(year, month, 1)


def is_calendar_date(year: int, month: int, day: int) -> bool:
    """Whether the date exists: a month of 1 to 12, a day that the month has (none of 1582-10-05 to
    -14, which the change of calendar skipped)."""
    return 1 <= month <= 12 and date_from_day(day_number(year, month, day)) == (year, month, day)


def calendar_date(jd: float) -> str:
    """The calendar date and time of a Julian date, on the date's own time scale, to the second:
    "2000-01-01 12:00:00". A value that is not finite, or too large for a day count, gives ""."""
    if not math.isfinite(jd) or abs(jd) > 1e15:
        return ""
    # Julian days begin at noon; a calendar day at midnight, half a day earlier.
    day = math.floor(jd + 0.5)
    seconds = round(((jd + 0.5) - day) * 86400.0)
    if seconds >= 86400:
        day += 1
        seconds -= 86400
    year, month, mday = date_from_day(day)
    year_text = f"{year:04d}" if year >= 0 else f"-{-year:04d}"
    return (f"{year_text}-{month:02d}-{mday:02d} "
            f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}")


def calendar_day(jd: float) -> str:
    """The calendar date of a Julian date without its time: "2000-01-01", "-4712-01-01" (or "")."""
    return calendar_date(jd).partition(" ")[0]


def date_or_jd(jd: float) -> str:
    """The calendar date and time of a Julian date, or "JD x" when it has none."""
    return calendar_date(jd) or f"JD {jd}"


def julian_date(text: str, what: str = "date") -> float:
    """The Julian date of a calendar date "YYYY-MM-DD[THH:MM[:SS]]", of one with a fraction of the day
    "YYYY-MM-DD.ddd", or of a plain Julian date, on the scale the text is meant in (TDB for ephem);
    `what` names the text in messages."""
    text = text.strip()
    match = DATE.fullmatch(text)
    if match:
        year_text = match.group(1)
        # A year of hundreds of digits is no date; its digits are counted before they are read.
        if len(year_text.lstrip("+-").lstrip("0")) > len(str(LARGEST_YEAR)):
            raise DateError(f"{what} {shorten(text)!r}: the year is beyond {LARGEST_YEAR:,} either way")
        year, month, day = (int(g) for g in match.groups()[:3])
        if abs(year) > LARGEST_YEAR:
            raise DateError(f"{what} {shorten(text)!r}: the year is beyond {LARGEST_YEAR:,} either way")
        fraction, hour_text, minute_text, second_text = match.groups()[3:]
        hour = int(hour_text or 0)
        minute = int(minute_text or 0)
        second = float(second_text or 0)
        if not is_calendar_date(year, month, day) or hour > 23 or minute > 59 or second >= 60:
            raise DateError(f"{what} {text!r} is not a date of the calendar")
        if fraction is not None:
            # Counted from the first of the month, as the comet format's day of perihelion is read, so
            # that the same date gives the same double either way.
            return (day_number(year, month, 1) - 0.5) + (float(f"{day}{fraction}0") - 1.0)
        return (day_number(year, month, day) - 0.5) + (hour * 3600 + minute * 60 + second) / 86400.0
    try:
        jd = float(text)
    except ValueError:
        raise DateError(f"{what} {shorten(text)!r} is neither a date {DATE_FORMS} nor a Julian "
                        f"date") from None
    if not math.isfinite(jd):
        raise DateError(f"{what} {shorten(text)!r} is not a finite Julian date")
    if abs(jd) >= LARGEST_JD:
        raise DateError(f"{what} {shorten(text)!r}: a Julian date must lie within {LARGEST_JD:.0e} either "
                        f"way (ephem's nine digits lose the day beyond)")
    return jd


def shorten(text: str, limit: int = 40) -> str:
    """A text cut for a message, so that a line of a message stays a line."""
    return text if len(text) <= limit else text[:limit] + "..."
