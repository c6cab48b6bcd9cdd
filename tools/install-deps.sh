#!/usr/bin/env bash
# Installs what building and testing scanfit needs on Debian 12, skipping
# what is already there. Run as root (or with sudo available).
set -euo pipefail

# clang and its runtime libraries build the fuzz targets (fuzz/run.sh);
# dpkg-dev finds the Debian package's dependencies, man-db renders the
# manual pages in a test; scanfit-batch runs on Debian's Python with GNU
# parallel and rsync, and its tests bring up a Slurm cluster of one node
# (slurm-wlm, munge); scanfit-quicklook draws with matplotlib and numpy;
# scanfit-export writes with numpy and GDAL's Python modules, and its tests
# read what it writes with ogrinfo (gdal-bin) and, under node, the npm
# package copc, which the tests install into the build tree. Compressed
# inputs are read through ISA-L (gzip), libzstd, liblzma and libbz2, found
# with pkg-config; the tests make their compressed flights with the gzip,
# zstd, xz and bzip2 programs.
packages=(cmake make g++ qt6-base-dev libtbb-dev libgtest-dev clang-14
          libclang-rt-14-dev dpkg-dev man-db parallel rsync slurm-wlm munge
          python3 python3-matplotlib python3-numpy python3-pytest
          python3-gdal gdal-bin
          pkgconf libisal-dev libzstd-dev liblzma-dev libbz2-dev
          gzip zstd xz-utils bzip2)
# Debian's node and npm, unless a node is there already (another node's own
# npm comes with it, and Debian's npm would not install beside it).
command -v node >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
