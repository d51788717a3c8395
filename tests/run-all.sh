#!/usr/bin/env bash
# Builds and runs every test: a plain build with warnings as errors (with the valgrind run
# and the static checks), the same sources under AddressSanitizer and
# UndefinedBehaviorSanitizer, a short fuzzing run, and the Windows cross build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # folder, then cmake options
  local folder=$1
  shift
  echo "== $folder"
  cmake -S . -B "build-tests/$folder" -DQUILLTERM_WERROR=ON "$@"
  cmake --build "build-tests/$folder" -j "$jobs"
  ctest --test-dir "build-tests/$folder" --output-on-failure -j "$jobs"
}

build plain
build sanitize -DQUILLTERM_SANITIZE=ON

if command -v clang++ >/dev/null; then
  CXX=clang++ build fuzz -DQUILLTERM_FUZZ=ON -DQUILLTERM_TESTS=OFF
else
  echo "SKIPPED: the fuzzing test, for want of clang++ (apt-get install clang libclang-rt-14-dev)" >&2
fi

wine=/usr/lib/wine/wine64
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x "$wine" ]; then
  build windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DQUILLTERM_HOST_E2E_TEST="$PWD/build-tests/plain/e2e_test"
else
  echo "SKIPPED: the Windows tests, for want of g++-mingw-w64-x86-64-posix or wine64 ($wine)" >&2
  echo "         install both with: apt-get install g++-mingw-w64-x86-64-posix wine64" >&2
fi
