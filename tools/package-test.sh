#!/usr/bin/env bash
# The Debian package as a user gets it: built from a release build,
# installed with apt-get, run (--version, the sample flight, the manual
# pages, a campaign of one flight, its figures and its export) and removed
# again, leaving nothing behind. Run as root (or with sudo available).
#
#   tools/package-test.sh [BUILD_DIR]     (default: build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

rm -f "$build"/scanfit_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/scanfit_*.deb)"
echo "== $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb --contents "$deb" | awk '{ print "  " $6 }'

$sudo apt-get install -y -qq "$deb" >/dev/null
trap '$sudo apt-get remove -y -qq scanfit >/dev/null' EXIT
/usr/bin/scanfit --version
work="$(mktemp -d)"
(cd "$work" && /usr/bin/scanfit "$root/data/sample_flight.txt" 2>/dev/null)
[ "$(ls "$work" | wc -l)" -eq 5 ] || { echo "package run: not five outputs" >&2; exit 1; }
# The installed program writes what the one built here writes.
"$build/scanfit" --output-dir="$work.ref" "$root/data/sample_flight.txt" 2>/dev/null
for f in "$work"/*; do cmp "$f" "$work.ref/$(basename "$f")"; done
man -w scanfit scanfit-batch >/dev/null
# A campaign of one flight, with the installed scanfit beside the script.
/usr/bin/scanfit-batch --output-dir "$work/campaign" "$root/data/sample_flight.txt"
for f in "$work.ref"/*; do cmp "$f" "$work/campaign/sample_flight/$(basename "$f")"; done
# And its figures, drawn by the installed quick-look tool.
/usr/bin/scanfit-quicklook -o "$work/flight.png" "$work/campaign/sample_flight" >/dev/null
/usr/bin/scanfit-quicklook -o "$work/campaign.png" "$work/campaign" >/dev/null
[ -s "$work/flight.png" ] && [ -s "$work/campaign.png" ]
# The installed export: LAS and CSV need numpy alone, the GIS layers GDAL's
# Python modules, which the package only recommends.
man -w scanfit-export
/usr/bin/scanfit-export -o "$work/flight.las" "$work/campaign/sample_flight" >/dev/null
[ "$(od -An -c -N4 "$work/flight.las" | tr -d ' ')" = LASF ]
if /usr/bin/python3 -c 'import osgeo.ogr' 2>/dev/null; then
  /usr/bin/scanfit-export -o "$work/flight.gpkg" "$work/campaign/sample_flight" >/dev/null
  nadir="$(/usr/bin/python3 -c 'import sys; from osgeo import ogr
dataset = ogr.Open(sys.argv[1])
print(dataset.GetLayerByName("nadir").GetFeatureCount())' "$work/flight.gpkg")"
  [ "$nadir" = 17 ] || { echo "package export: $nadir nadir records, not 17" >&2; exit 1; }
fi
# Bytecode that Python writes beside the modules when they are imported
# other than by the tools, as root.
/usr/bin/python3 -c 'import sys; sys.path.insert(0, "/usr/lib/scanfit")
import scanfit_tools.batch.cli, scanfit_tools.quicklook.cli, scanfit_tools.export.cli'
rm -rf "$work" "$work.ref"

trap - EXIT
$sudo apt-get remove -y -qq scanfit >/dev/null
for left in /usr/lib/scanfit /usr/bin/scanfit-batch /usr/share/doc/scanfit; do
  [ ! -e "$left" ] || { echo "package: $left is left after its removal" >&2; exit 1; }
done
echo "package: installed, ran and removed"
