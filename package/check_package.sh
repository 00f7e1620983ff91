#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, checks it with lintian (no errors), unpacks it
# into a temporary root and runs the unpacked programs from there: ephem on the Mars example, whose table
# must be the expected one, and ephem-table run, which finds the ephem beside it. With --install (as root,
# on a machine of its own, as CI is) it also installs the package with apt, runs the installed programs
# and removes it again.
#
# usage: package/check_package.sh [--install] [build folder]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
install=no
if [ "${1:-}" = --install ]; then
  install=yes
  shift
fi
build=$(realpath "${1:-build/release}")

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ephem_*.deb)
echo "package: $(basename "$deb")"
lintian --fail-on error "$deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# run_from PREFIX: the Mars example and a run of ephem-table, with the programs in PREFIX/bin.
run_from() {
  local bin=$1/bin docs=$1/share/doc/ephem work
  work=$(mktemp -d -p "$root")
  cp "$docs/examples/mars/DATOS.DAT" "$work/"
  (cd "$work" && "$bin/ephem")
  cmp "$work/ZEPO.DAT" "$docs/examples/mars/ZEPO.expected"
  (cd "$work" && "$bin/ephem-table" run mars --start 2026-01-01 --rows 10 --csv -) >"$work/mars.csv" \
    2>"$work/run.err" || { cat "$work/run.err" >&2; exit 1; }
  [ "$(grep -c '^2461[0-9]*\.5,2026-01-' "$work/mars.csv")" -eq 10 ] || { echo "ephem-table run: not 10 rows" >&2; exit 1; }
  man -l "$1/share/man/man1/ephem-table.1.gz" >/dev/null
  echo "ran from $1: the Mars example as expected, ephem-table run wrote 10 rows"
}
run_from "$root/usr"

if [ "$install" = yes ]; then
  apt-get install -y -q "$deb" >/dev/null
  run_from /usr
  apt-get remove -y -q ephem >/dev/null
  if command -v ephem >/dev/null; then
    echo "ephem is still installed after its removal" >&2
    exit 1
  fi
fi
