"""The table of approximate planetary elements with their rates, valid 1800 AD to 2050 AD.

Source: E. M. Standish (JPL Solar System Dynamics), "Keplerian Elements for Approximate Positions of the
Major Planets", Table 1, referred to the mean ecliptic and equinox of J2000. Each body has its value at
J2000 (JD 2451545.0, TDB) and its rate per Julian century:
    element(T) = value + rate * T,   T = (JD_TDB - 2451545.0) / 36525
Columns: a (AU), e, I (deg), L mean longitude (deg), varpi longitude of perihelion (deg), Omega longitude
of the ascending node (deg).

Stated approximate errors over 1800-2050 in heliocentric right ascension and declination (arcsec) and
distance (1000 km): Mercury 15 1 1; Venus 20 1 4; EM Bary 20 8 6; Mars 40 2 25; Jupiter 400 10 600;
Saturn 600 25 1500; Uranus 50 2 1000; Neptune 10 1 200; Pluto 5 2 300.
"""

from typing import NamedTuple, Optional, Tuple


class Body(NamedTuple):
    name: str
    values: Tuple[float, ...]
    rates: Tuple[float, ...]


# JD of 1800-01-01 0h and of 2051-01-01 0h (TDB): the span in which the table holds.
FIRST_JD = 2378496.5
END_JD = 2470172.5

BODIES = (
    Body("Mercury", (0.38709927, 0.20563593, 7.00497902, 252.25032350, 77.45779628, 48.33076593),
         (0.00000037, 0.00001906, -0.00594749, 149472.67411175, 0.16047689, -0.12534081)),
    Body("Venus", (0.72333566, 0.00677672, 3.39467605, 181.97909950, 131.60246718, 76.67984255),
         (0.00000390, -0.00004107, -0.00078890, 58517.81538729, 0.00268329, -0.27769418)),
    Body("EM-Bary", (1.00000261, 0.01671123, -0.00001531, 100.46457166, 102.93768193, 0.0),
         (0.00000562, -0.00004392, -0.01294668, 35999.37244981, 0.32327364, 0.0)),
    Body("Mars", (1.52371034, 0.09339410, 1.84969142, -4.55343205, -23.94362959, 49.55953891),
         (0.00001847, 0.00007882, -0.00813131, 19140.30268499, 0.44441088, -0.29257343)),
    Body("Jupiter", (5.20288700, 0.04838624, 1.30439695, 34.39644051, 14.72847983, 100.47390909),
         (-0.00011607, -0.00013253, -0.00183714, 3034.74612775, 0.21252668, 0.20469106)),
    Body("Saturn", (9.53667594, 0.05386179, 2.48599187, 49.95424423, 92.59887831, 113.66242448),
         (-0.00125060, -0.00050991, 0.00193609, 1222.49362201, -0.41897216, -0.28867794)),
    Body("Uranus", (19.18916464, 0.04725744, 0.77263783, 313.23810451, 170.95427630, 74.01692503),
         (-0.00196176, -0.00004397, -0.00242939, 428.48202785, 0.40805281, 0.04240589)),
    Body("Neptune", (30.06992276, 0.00859048, 1.77004347, -55.12002969, 44.96476227, 131.78422574),
         (0.00026291, 0.00005105, 0.00035372, 218.45945325, -0.32241464, -0.00508664)),
    Body("Pluto", (39.48211675, 0.24882730, 17.14001206, 238.92903833, 224.06891629, 110.30393684),
         (-0.00031596, 0.00005170, 0.00004818, 145.20780515, -0.04062942, -0.01183482)),
)

# Names a user may type for the Earth-Moon barycentre, the observer of every example.
ALIASES = {"em-bary": "EM-Bary", "emb": "EM-Bary", "earth": "EM-Bary", "earth-moon": "EM-Bary"}

# The names messages and --help list: emb for the Earth-Moon barycentre, as --help has always said.
NAMES = tuple("emb" if body.name == "EM-Bary" else body.name.lower() for body in BODIES)


def near_miss(name: str) -> Optional[str]:
    """The planet's name a mistyped one is closest to ("marz": "mars"), or None."""
    import difflib
    found = difflib.get_close_matches(name.lower(), NAMES + tuple(ALIASES), n=1, cutoff=0.75)
    return found[0] if found else None


def find(name: str) -> Optional[Body]:
    """The body of that name (any case; emb and earth for the Earth-Moon barycentre), or None."""
    wanted = ALIASES.get(name.lower(), name).lower()
    return next((body for body in BODIES if body.name.lower() == wanted), None)
