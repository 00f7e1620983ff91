#!/usr/bin/env bash
# Installs the companion from tools/pyproject.toml into a fresh virtual environment that sees the system's
# packages, with no dependencies fetched and no index (as a Debian system with python3-erfa,
# python3-matplotlib and python3-scipy has them), and runs the installed ephem-table: --version, and a
# DATOS.DAT of Mars, which must be what the source tree's ephem-table writes.
#
# usage: package/check_pip_install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source_tree=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the package and its pyproject, so that the build leaves nothing in the source tree.
mkdir "$work/source"
cp -r tools/pyproject.toml tools/ephem_table "$work/source/"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-deps --no-index --no-build-isolation "$work/source"

version=$("$work/venv/bin/ephem-table" --version)
[ "$version" = "$(tools/ephem-table --version)" ] || { echo "installed: $version" >&2; exit 1; }
args=(datos mars --start 2026-01-01 --rows 3 -o -)
cmp <(cd "$work" && "$work/venv/bin/ephem-table" "${args[@]}") <(cd "$work" && "$source_tree/tools/ephem-table" "${args[@]}")
echo "pip install into a virtual environment: $version, and its DATOS.DAT of Mars as the source tree's"
