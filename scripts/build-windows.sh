#!/usr/bin/env bash
# Cross-builds the demo for Windows with MinGW-w64, installing what is missing:
#   build-windows/demo.exe, build-windows/demotool.exe      64-bit
#   build-windows/demo-windows.zip                          demo.exe and res/, to unpack and run
#   build-windows-i686/demo.exe, build-windows-i686/demotool.exe   32-bit
#   build-windows/demo-windows-x86.zip                      the same for 32-bit Windows
# With --tests the 64-bit Windows test executables are built too (./test
# does that; they run under Wine with `ctest --test-dir build-windows`, the
# 32-bit demotool.exe's agreement with Linux among them); with --tests-i686
# the 32-bit ones as well (`ctest --test-dir build-windows-i686`, under
# 32-bit Wine; scripts/test-stress.sh runs them).
# demo.exe is a windowed program, demotool.exe a console one; both carry a
# manifest, an icon and version information (res/windows), and no symbols.
# The executables depend on no DLL outside Windows itself:
#   objdump -p build-windows/demo.exe | grep 'DLL Name'
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
tests_i686=OFF
for arg in "$@"; do
  case $arg in
    --tests) tests=ON ;;
    --tests-i686) tests_i686=ON ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-windows: unknown option $arg (try --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh windows

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
jobs=$(nproc)
for arch in x86_64 i686; do
  dir=build-windows
  [ "$arch" = x86_64 ] || dir=build-windows-$arch
  # The 32-bit test programs cost minutes to build for what the 64-bit ones
  # already show; the 32-bit programs themselves are tested from the 64-bit
  # build's tests (tests/windows/CMakeLists.txt).
  arch_tests=$tests
  [ "$arch" = x86_64 ] || arch_tests=$tests_i686
  # Optimised as the Linux build is, without its debug information: the
  # executables ship in the zip, and the build takes a third less time.
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DDEMO_BUILD_TESTS="$arch_tests" "${launcher[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
done

# Each zip holds what a person needs on Windows: the program and the 22
# files of the show (not the show's sources in res/src, nor res/windows).
# The program is linked without symbols (cmake/WindowsResources.cmake).
# Written under a temporary name and renamed, so that a failure leaves no
# half zip behind.
zip_show() {
  python3 - "$1" res "$2" <<'PY'
import os, pathlib, sys, zipfile
exe, res, out = map(pathlib.Path, sys.argv[1:])
partial = out.with_name(out.name + ".partial")
with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
    z.write(exe, "demo.exe")
    for f in sorted(res.iterdir()):
        if f.is_file():
            z.write(f, "res/" + f.name)
os.replace(partial, out)
PY
}
zip_show build-windows/demo.exe build-windows/demo-windows.zip
zip_show build-windows-i686/demo.exe build-windows/demo-windows-x86.zip
echo "build-windows: build-windows/demo.exe, build-windows/demotool.exe, build-windows/demo-windows.zip," \
  "build-windows-i686/demo.exe, build-windows-i686/demotool.exe, build-windows/demo-windows-x86.zip" >&2
