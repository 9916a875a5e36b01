#!/usr/bin/env bash
# Cross-builds the demo for Windows with MinGW-w64, installing what is missing:
#   build-windows/demo.exe, build-windows/demotool.exe      64-bit
#   build-windows/demo-windows.zip                          demo.exe and res/, to unpack and run
#   build-windows-i686/demo.exe, build-windows-i686/demotool.exe   32-bit
# With --tests the Windows test executables are built too (./test does that;
# they run under Wine with `ctest --test-dir build-windows`).
# demo.exe is a windowed program, demotool.exe a console one; both carry a
# manifest, an icon and version information (res/windows), and no symbols.
# The executables depend on no DLL outside Windows itself:
#   objdump -p build-windows/demo.exe | grep 'DLL Name'
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
for arg in "$@"; do
  case $arg in
    --tests) tests=ON ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
  # The 32-bit build proves that everything compiles and links there; its
  # tests would need 32-bit Wine, so it is built without them.
  arch_tests=$tests
  [ "$arch" = x86_64 ] || arch_tests=OFF
  # Optimised as the Linux build is, without its debug information: the
  # executables ship in the zip, and the build takes a third less time.
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DDEMO_BUILD_TESTS="$arch_tests" "${launcher[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
done

# The zip holds what a person needs on Windows: the program and the 22 files
# of the show (not the show's sources in res/src, nor res/windows). The
# program is linked without symbols (cmake/WindowsResources.cmake).
python3 - build-windows/demo.exe res build-windows/demo-windows.zip <<'PY'
import pathlib, sys, zipfile
exe, res, out = map(pathlib.Path, sys.argv[1:])
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    z.write(exe, "demo.exe")
    for f in sorted(res.iterdir()):
        if f.is_file():
            z.write(f, "res/" + f.name)
PY
echo "build-windows: build-windows/demo.exe, build-windows/demotool.exe, build-windows/demo-windows.zip, build-windows-i686/demo.exe" >&2
