"""A place on the Earth to observe from: --site LAT,LON[,HEIGHT_M] or the name of a well-known
observatory.

Latitudes are geodetic (on the WGS84 ellipsoid, as maps and receivers give them), north positive;
longitudes east positive, -180 to 360 degrees accepted and kept from -180 to 180; the height is above
the ellipsoid in metres (0 when not given; a height above sea level differs by the geoid's tens of
metres, which move a place by under 0.1 arcsecond).
"""

import difflib
import math
import re
from typing import NamedTuple

from .errors import UsageError


class Site(NamedTuple):
    latitude_deg: float  # geodetic, north positive
    longitude_deg: float  # east positive, -180 to 180
    height_m: float  # above the ellipsoid
    name: str = ""

    def text(self) -> str:
        """'48.8566 N, 2.3522 E, 35 m' (and the observatory's name when it has one)."""
        place = (f"{abs(self.latitude_deg):.4f} {'N' if self.latitude_deg >= 0 else 'S'}, "
                 f"{abs(self.longitude_deg):.4f} {'E' if self.longitude_deg >= 0 else 'W'}, {self.height_m:.0f} m")
        return f"{self.name} ({place})" if self.name else place


# Well-known observatories, for --site NAME: latitude, longitude (east), height in metres.
OBSERVATORIES = {
    "greenwich": Site(51.4769, -0.0005, 46.0, "Greenwich"),
    "paris": Site(48.8366, 2.3364, 67.0, "Paris Observatory"),
    "mauna-kea": Site(19.8207, -155.4681, 4205.0, "Mauna Kea"),
    "paranal": Site(-24.6272, -70.4045, 2635.0, "Paranal"),
    "la-silla": Site(-29.2567, -70.7300, 2400.0, "La Silla"),
    "la-palma": Site(28.7606, -17.8816, 2326.0, "Roque de los Muchachos, La Palma"),
    "kitt-peak": Site(31.9583, -111.5967, 2096.0, "Kitt Peak"),
    "palomar": Site(33.3563, -116.8650, 1712.0, "Palomar"),
    "siding-spring": Site(-31.2733, 149.0644, 1165.0, "Siding Spring"),
    "calar-alto": Site(37.2236, -2.5463, 2168.0, "Calar Alto"),
}

SITE_FORMS = ("LAT,LON[,HEIGHT_M] in degrees (north and east positive; or with N, S, E, W: 48.8566N,2.3522E) "
              f"or one of {', '.join(OBSERVATORIES)}")

# The heights a site on the Earth has: the Dead Sea's shore to well above the highest observatory.
LOWEST_M, HIGHEST_M = -500.0, 10000.0

ANGLE = re.compile(r"([+-]?(?:\d+\.?\d*|\.\d+))([NSEWnsew]?)")


def angle(text: str, what: str, negative: str, positive: str) -> float:
    found = ANGLE.fullmatch(text.strip())
    if found is None or (found.group(2) and found.group(2).upper() not in (negative, positive)):
        raise UsageError(f"--site: the {what} {text.strip()!r} is not a number of degrees (with {positive} or "
                         f"{negative} or none)")
    value = float(found.group(1))
    if found.group(2).upper() == negative:
        value = -value
    return value


def parse_site(text: str) -> Site:
    """The site that --site names; a UsageError naming the part that is wrong."""
    name = text.strip().lower()
    if name in OBSERVATORIES:
        return OBSERVATORIES[name]
    parts = text.split(",")
    if not 2 <= len(parts) <= 3 or not any(c.isdigit() for c in text):
        near = difflib.get_close_matches(name, OBSERVATORIES, n=1)
        hint = f" (did you mean {near[0]}?)" if near else ""
        raise UsageError(f"--site {text!r}: give {SITE_FORMS}{hint}")
    latitude = angle(parts[0], "latitude", "S", "N")
    longitude = angle(parts[1], "longitude", "W", "E")
    height = 0.0
    if len(parts) == 3:
        try:
            height = float(parts[2])
        except ValueError:
            raise UsageError(f"--site: the height {parts[2].strip()!r} is not a number of metres") from None
    if not -90.0 <= latitude <= 90.0:
        raise UsageError(f"--site: the latitude {latitude!r} is outside -90 to 90 degrees")
    if not -180.0 <= longitude < 360.0:
        raise UsageError(f"--site: the longitude {longitude!r} is outside -180 to 360 degrees")
    if not (math.isfinite(height) and LOWEST_M <= height <= HIGHEST_M):
        raise UsageError(f"--site: the height {parts[2].strip()} m is outside {LOWEST_M:.0f} to {HIGHEST_M:.0f} m")
    if longitude >= 180.0:
        longitude -= 360.0
    return Site(latitude, longitude, height)
