"""The constants of the companion, each written once.

ephem's model, formed as the program forms them (ephemeris/constants.hpp; test_constants.py runs the
built program's own and compares the bits): Gauss's constant, pi as atan(1) times 4, and the fixed
obliquity of the ecliptic in radians from its degrees. Then the physical constants the companion's
references use: the astronomical unit (IAU 2012, exact) and the Moon's mass over the Earth's (IAU 2009
system of astronomical constants)."""

import math

# Gauss's gravitational constant: lengths in AU, times in days, masses in solar masses.
GAUSS_K = 0.01720209895
PI = math.atan(1.0) * 4.0
OBLIQUITY_DEG = 23.439291
OBLIQUITY = (PI * OBLIQUITY_DEG) / 180.0
COS_OBLIQUITY = math.cos(OBLIQUITY)
SIN_OBLIQUITY = math.sin(OBLIQUITY)

AU_KM = 149597870.7
AU_M = AU_KM * 1000.0
MOON_EARTH_MASS_RATIO = 0.0123000371
# The Moon's share of the Earth-Moon mass: the barycentre lies this part of the way to the Moon.
MOON_SHARE = MOON_EARTH_MASS_RATIO / (1.0 + MOON_EARTH_MASS_RATIO)
