#!/usr/bin/env bash
# Builds and runs every test: a plain build with warnings as errors (with the valgrind run,
# the static checks and the README's commands), the same sources under AddressSanitizer and
# UndefinedBehaviorSanitizer, a short fuzzing run, and the Windows builds with their tests
# as Windows programs under wine.
# Every stage runs even when an earlier one failed; a line per stage sums them up at the
# end, and the exit status is 1 if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
summary=()
passed=0
failed=0
skipped=0

# A stage: its name, then the cmake options of its build. Its tests run with ctest.
stage() {
  local name=$1 start=$SECONDS log="build-tests/$1.log" tested="build-tests/$1.tested" result
  shift
  echo "== $name"
  mkdir -p build-tests
  if cmake -S . -B "build-tests/$name" -DQUILLTERM_WERROR=ON "$@" && cmake --build "build-tests/$name" -j "$jobs"; then
    ctest --test-dir "build-tests/$name" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
    result=${PIPESTATUS[0]}
  else
    echo "the build failed" >"$log"
    result=1
  fi
  # What the tests measured, and why cases were skipped, which ctest shows only on failure
  # (Windows test programs end their lines with CR LF).
  tr -d '\r' <"build-tests/$name/Testing/Temporary/LastTest.log" >"$tested" 2>/dev/null
  grep -hE '^[0-9]+ sessions compared|^interrupt moments|^stat::number_of_executed_units|^package session|^README commands|imports from|^from VL_OSALib|^SKIPPED: ' \
    "$tested" | awk '!seen[$0]++' | sed "s/^/$name: /"
  awk '/: Skipped$/ { getline; print "skipped case: " $0 }' "$tested" | sort -u | sed "s/^/$name: /"
  local total bad skip
  read -r bad total < <(sed -n 's/.* \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$log")
  skip=$(grep -c '\*\*\*Skipped\|Not Run' "$log")
  total=${total:-0} bad=${bad:-0}
  if [ "$result" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1 total=$((total > 0 ? total : 1)); fi
  passed=$((passed + total - bad - skip)) failed=$((failed + bad)) skipped=$((skipped + skip))
  local verdict=passed
  [ "$result" -eq 0 ] || verdict=failed
  # Within the test programs, GoogleTest's own count of cases, those skipped among them.
  local cases
  cases=$(awk '/^\[  PASSED  \] [0-9]+ test/ { p += $4 } /^\[  SKIPPED \] [0-9]+ test/ { s += $4 }
    END { if (p + s > 0) printf "; cases %d passed, %d skipped", p, s }' "$tested")
  summary+=("$(printf '%-13s %s, %d tests (%d failed, %d skipped%s), %d s' "$name" "$verdict" "$total" "$bad" "$skip" \
    "$cases" $((SECONDS - start)))")
}

skip() {  # name, reason
  echo "SKIPPED: the $1 stage: $2" >&2
  summary+=("$(printf '%-13s skipped: %s' "$1" "$2")")
}

stage plain -DQUILLTERM_TESTS=ON
stage sanitize -DQUILLTERM_TESTS=ON -DQUILLTERM_SANITIZE=ON

if command -v clang++ >/dev/null; then
  CXX=clang++ stage fuzz -DQUILLTERM_FUZZ=ON -DQUILLTERM_TESTS=OFF
else
  skip fuzz "no clang++ (apt-get install clang libclang-rt-14-dev)"
fi

# Windows: the test programs are Windows programs too, run under wine (the 32-bit ones
# under wine32): mingw-w64 for 64-bit, then for 32-bit with the platform's calling
# convention and with __stdcall; and the MSVC-ABI program (clang-cl and lld-link against
# wine's C runtime, where GoogleTest does not build), driven by mingw-w64's test programs.
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
windows=(-DCMAKE_BUILD_TYPE=Release -DQUILLTERM_TESTS=ON)
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine64" ] || [ ! -d /usr/src/googletest ]; then
  skip windows "no g++-mingw-w64-x86-64-posix, wine64 or googletest (apt-get install g++-mingw-w64-x86-64-posix wine64 googletest)"
else
  stage windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${windows[@]}"
fi

if ! command -v clang-cl-14 lld-link-14 llvm-lib-14 x86_64-w64-mingw32-g++-posix >/dev/null ||
  [ ! -d /usr/include/wine/wine/msvcrt ] || [ ! -d /usr/lib/llvm-14/include/c++/v1 ] || [ ! -x "$wine64" ]; then
  skip msvc-abi "no clang-cl, lld-link, mingw-w64, wine's headers or libc++'s (apt-get install clang-tools-14 lld-14 llvm-14 g++-mingw-w64-x86-64-posix libwine-dev wine64-tools libc++-14-dev wine64)"
else
  stage msvc-abi -DCMAKE_TOOLCHAIN_FILE=cmake/clang-cl-wine-x86_64.cmake "${windows[@]}"
fi

if ! command -v i686-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine32" ]; then
  skip win32 "no g++-mingw-w64-i686-posix or wine32 (dpkg --add-architecture i386; apt-get install g++-mingw-w64-i686-posix wine32:i386)"
else
  stage win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake "${windows[@]}"
  stage win32-stdcall -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake "${windows[@]}" \
    -DQUILLTERM_VENDOR_CALLING_CONVENTION=__stdcall
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
