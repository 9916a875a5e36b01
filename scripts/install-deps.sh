#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the demo need.
# Idempotent: asks apt only when something is missing, and updates its lists once.
#   install-deps.sh         everything: the demo, the tests, the benchmarks
#   install-deps.sh demo    only what building and running the demo needs
#   install-deps.sh windows only what cross-building for Windows and testing
#                           the result under Wine needs
set -euo pipefail

windows_packages=(
  # cross-building for Windows, GoogleTest's sources for its tests, Wine and
  # a virtual X server to run them, and what drives and inspects it
  mingw-w64 googletest wine wine64 xvfb xdotool x11-apps imagemagick python3
  # the studio's server, whose headers the Windows build takes from Linux's
  libboost-dev nlohmann-json3-dev
  # zlib for Windows: the yardstick of bench/run-windows.sh
  libz-mingw-w64-dev
  # 32-bit Wine and the 32-bit Mesa its OpenGL stands on, to run the i686
  # build (named with their architecture: the amd64 packages of the same
  # names are another thing, already in the list above)
  wine32:i386 libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386
)
packages=(
  # toolchain
  build-essential cmake pkg-config
  # libraries the platform layer stands on
  libsdl2-dev libx11-dev libmpg123-dev libfreetype-dev libfontconfig-dev libglu1-mesa-dev
  libgl1-mesa-dev libgl1-mesa-dri libegl-mesa0 libjpeg62-turbo-dev libgif-dev libpng-dev
  fonts-liberation2
  # offscreen rendering and video capture
  libegl-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  # demotool's track plots and beats
  libcairo2-dev libaubio-dev
  # the studio's server: HTTP over Boost.Asio (headers only) and JSON
  libboost-dev nlohmann-json3-dev
)
if [ "${1:-all}" = windows ]; then
  packages=(build-essential cmake python3 "${windows_packages[@]}")
elif [ "${1:-all}" != demo ]; then
  packages+=(
    # test frameworks, sanitizers and fuzzing
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev
    # oracles for tests and benchmarks
    zlib1g-dev libspng-dev libdeflate-dev libisal-dev
    # end-to-end tests and making the bundled show
    xvfb xdotool x11-apps x11-utils imagemagick ffmpeg lame sox python3 python3-numpy python3-pil
    # the studio's API spoken to from a shell
    curl
    # the studio's page in real browsers: Chromium through its driver, Firefox
    # over the WebDriver BiDi socket it opens itself
    chromium chromium-driver python3-selenium firefox-esr python3-websocket
    # setcap, for the start over of a program with file capabilities
    libcap2-bin
    # the Windows build and its tests under Wine
    "${windows_packages[@]}"
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# The 32-bit packages need the i386 architecture known to dpkg before apt
# reads its lists.
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: adding the i386 architecture for ${p%:i386}" >&2
    $sudo dpkg --add-architecture i386
  fi
done
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
