# The Debian package, made by CPack from the install rules (cpack -G DEB in a build folder):
# ephem_<version>_<arch>.deb with /usr/bin/ephem, /usr/bin/ephem-table and its package in
# /usr/share/ephem, the manual pages, the examples and the copyright and changelog under
# /usr/share/doc/ephem. CPack rather than a debian/ folder: the package comes from the very install rules
# that `cmake --install` follows, in one build, with no second description of where files go.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ephem)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "ephem maintainers <maintainers@users.noreply.c-seed-d1306e1c.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "daily ephemeris of a body from two Keplerian orbits")
# The long description under the summary: lines under 80 characters, an empty line between paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ephem reads the orbits of a target and an observer, a start time and a row
count from DATOS.DAT and writes ZEPO.DAT, one row a day: right ascension and
declination (geometric, mean equator and equinox of J2000), the distances from
the Sun and the observer, the elongation, the phase angle and the illuminated
fraction, by the two-body model.

ephem-table writes DATOS.DAT from a planet's name, a line of the Minor Planet
Center's orbit files or elements, and turns the table into CSV, plots and a
summary of its events and magnitudes.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C library and the C++ run-time from what the program links (dpkg-shlibdeps); the companion's
# interpreter and modules by name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy, python3-erfa, python3-matplotlib, python3-scipy")
set(CPACK_STRIP_FILES ON)
include(CPack)
