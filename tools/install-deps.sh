#!/bin/sh
# Installs the Debian packages that building, testing and the demo need;
# only the missing ones, so a second run costs nothing.
set -eu

PACKAGES="build-essential cmake pkg-config
libarmadillo-dev libopenblas-dev liblapack-dev
libgtk2.0-dev libfftw3-dev libsndfile1-dev libyaml-cpp-dev
libmysofa-dev libmysofa1 libsoxr-dev libasound2-dev
libgtest-dev googletest libbenchmark-dev
xvfb xauth xfonts-base
clang libclang-rt-14-dev
pocketsphinx-testdata alsa-utils espeak-ng sox time ccache soundscaperenderer-common
python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-matplotlib
parallel"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" != 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "install-deps: these packages are missing and I am not root:$missing" >&2
    exit 1
  fi
fi
echo "install-deps: installing$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
