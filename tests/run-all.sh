#!/usr/bin/env bash
# Builds and runs every test: a plain build with warnings as errors (with the valgrind run,
# the static checks and the README's commands), the same sources under AddressSanitizer and
# UndefinedBehaviorSanitizer, a short fuzzing run, and the Windows builds with their tests
# as Windows programs under wine.
# The native stages and the Windows ones run side by side, each lane one stage at a time,
# and the Windows stages share one wine prefix. Every stage runs even when another failed;
# a line per stage sums them up at the end, the log of a failed one follows, and the exit
# status is 1 if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
mkdir -p build-tests
rm -rf build-tests/*.summary build-tests/fuzz.claimed
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
start=$SECONDS

# A stage: its name, then the cmake options of its build. Its tests run with ctest. What it
# found goes to build-tests/NAME.summary: a line, then its counts of tests.
stage() {
  local name=$1 begun=$SECONDS log="build-tests/$1.log" tested="build-tests/$1.tested" result
  shift
  echo "== $name: started"
  if cmake -S . -B "build-tests/$name" "${generator[@]}" -DQUILLTERM_WERROR=ON "$@" >"$log" 2>&1 &&
    cmake --build "build-tests/$name" -j 2 >>"$log" 2>&1; then
    ${before_tests:-true}
    ctest --test-dir "build-tests/$name" --output-on-failure -j 2 >>"$log" 2>&1
    result=$?
  else
    echo "the build failed" >>"$log"
    result=1
  fi
  # What the tests measured, and why cases were skipped, which ctest shows only on failure
  # (Windows test programs end their lines with CR LF).
  tr -d '\r' <"build-tests/$name/Testing/Temporary/LastTest.log" >"$tested" 2>/dev/null
  local total bad skip retried cases
  read -r bad total < <(sed -n 's/.* \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$log")
  skip=$(grep -c '\*\*\*Skipped\|Not Run' "$log")
  total=${total:-0} bad=${bad:-0}
  if [ "$result" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1 total=$((total > 0 ? total : 1)); fi
  # Within the test programs, GoogleTest's own count of cases, those skipped among them;
  # and the children that wine failed to start, started once more.
  cases=$(awk '/^\[  PASSED  \] [0-9]+ test/ { p += $4 } /^\[  SKIPPED \] [0-9]+ test/ { s += $4 }
    END { if (p + s > 0) printf "; cases %d passed, %d skipped", p, s }' "$tested")
  retried=$(awk -F= '/^measured: failed_starts_retried=/ { n += $2; seen = 1 }
    END { if (seen) printf "; %d failed starts retried", n }' "$tested")
  {
    printf '%-13s %s, %d tests (%d failed, %d skipped%s%s), %d s\n' "$name" \
      "$([ "$result" -eq 0 ] && echo passed || echo failed)" "$total" "$bad" "$skip" "$cases" "$retried" \
      $((SECONDS - begun))
    echo "$((total - bad - skip)) $bad $skip"
    grep -hE '^measured: |^stat::number_of_executed_units|^SKIPPED: ' "$tested" | grep -v '^measured: failed_starts' |
      awk '!seen[$0]++' | sed -e 's/^measured: //' -e "s/^/$name: /"
    awk '/: Skipped$/ { getline; print "skipped case: " $0 }' "$tested" | sort -u | sed "s/^/$name: /"
  } >"build-tests/$name.summary"
  echo "== $name: $(head -n 1 "build-tests/$name.summary" | cut -c15-)"
}

# A stage that cannot run: its name, why, and the groups of packages it needs (its name if
# none), of which .ci/run names those it could not install with apt's reason. It counts as
# one skipped test.
skip() {
  local name=$1 reason=$2 && shift 2
  reason+=$(awk -F '\t' -v groups=" ${*:-$name} " 'index(groups, " " $1 " ") { printf "; %s not installed: %s", $2, $3 }' build-tests/not-installed 2>/dev/null)
  echo "SKIPPED: the $name stage: $reason" >&2
  printf '%-13s skipped: %s\n0 0 1\n' "$name" "$reason" >"build-tests/$name.summary"
}

# The fuzzing stage needs nothing that either lane builds: the lane that is done first runs
# it, which is the Windows one where the 32-bit test programs cannot run.
fuzz() {
  mkdir build-tests/fuzz.claimed 2>/dev/null || return 0
  command -v clang++ >/dev/null || { skip fuzz "no clang++ (apt-get install clang libclang-rt-14-dev)"; return; }
  CXX=clang++ stage fuzz -DQUILLTERM_FUZZ=ON -DQUILLTERM_TESTS=OFF
}

native() {
  stage plain -DQUILLTERM_TESTS=ON
  stage sanitize -DQUILLTERM_TESTS=ON -DQUILLTERM_SANITIZE=ON
  fuzz
}

# Windows: the test programs are Windows programs too, run under wine (the 32-bit ones
# under wine32): mingw-w64 for 64-bit, then for 32-bit with the platform's calling
# convention and with __stdcall; and the MSVC-ABI program (clang-cl and lld-link against
# wine's C runtime, where GoogleTest does not build), driven by mingw-w64's test programs.
# One prefix for all, made by the first (by wine64, so that it runs 32-bit programs too).
windows() {
  local wine64=/usr/lib/wine/wine64 prefix=$PWD/build-tests/wineprefix booting=
  local windows=(-DCMAKE_BUILD_TYPE=Release -DQUILLTERM_TESTS=ON -DQUILLTERM_WINE_PREFIX="$prefix")
  # The prefix is booted while the first stage builds; its tests wait for that. (Each
  # stage's own fixture boots it as well, when nothing has.)
  if [ -x "$wine64" ] && [ ! -e "$prefix/.booted" ]; then
    (mkdir -p "$prefix" && WINEPREFIX=$prefix WINEDEBUG=-all "$wine64" wineboot -u &&
      WINEPREFIX=$prefix /usr/lib/wine/wineserver -w && touch "$prefix/.booted") >/dev/null 2>&1 </dev/null &
    booting=$!
  fi
  booted() { [ -z "$booting" ] || wait "$booting"; booting=; }
  local before_tests=booted
  # Both 32-bit builds take GoogleTest built once for them, while the 64-bit ones build;
  # the windows stage builds its own from the sources, as a user's build does.
  local googletest=build-tests/googletest-i686 building=
  if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    (cmake -S /usr/src/googletest -B "$googletest" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PWD/$googletest/installed" &&
      cmake --build "$googletest" -j 2 && cmake --install "$googletest") >"$googletest.log" 2>&1 </dev/null &
    building=$!
  fi
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine64" ] || [ ! -d /usr/src/googletest ]; then
    skip windows "no g++-mingw-w64-x86-64-posix, wine64 or googletest (apt-get install g++-mingw-w64-x86-64-posix wine64 googletest)"
  else
    stage windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${windows[@]}"
  fi
  if ! command -v clang-cl-14 lld-link-14 llvm-lib-14 x86_64-w64-mingw32-g++-posix >/dev/null ||
    [ ! -d /usr/include/wine/wine/msvcrt ] || [ ! -d /usr/lib/llvm-14/include/c++/v1 ] || [ ! -x "$wine64" ]; then
    skip msvc-abi "no clang-cl, lld-link, mingw-w64, wine's headers or libc++'s (apt-get install clang-tools-14 lld-14 llvm-14 g++-mingw-w64-x86-64-posix libwine-dev wine64-tools libc++-14-dev wine64)" \
      msvc-abi windows
  else
    # Driven by the windows stage's test programs, when it made them: the same programs
    # that it would build with mingw-w64 beside it.
    local programs=()
    [ -x build-tests/windows/e2e_test.exe ] && programs=(-DQUILLTERM_TEST_PROGRAMS="$PWD/build-tests/windows")
    stage msvc-abi -DCMAKE_TOOLCHAIN_FILE=cmake/clang-cl-wine-x86_64.cmake "${windows[@]}" "${programs[@]}"
  fi
  # Without wine32 they are built all the same, and their tests count as skipped.
  if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    skip win32 "no g++-mingw-w64-i686-posix (apt-get install g++-mingw-w64-i686-posix)"
    skip win32-stdcall "the same as the win32 stage" win32
  else
    [ -z "$building" ] || wait "$building"
    windows+=(-DGTest_DIR="$PWD/$googletest/installed/lib/cmake/GTest")
    stage win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake "${windows[@]}"
    stage win32-stdcall -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake "${windows[@]}" \
      -DQUILLTERM_VENDOR_CALLING_CONVENTION=__stdcall
  fi
  fuzz
}

native &
windows &
wait

echo
echo "== summary"
stages=(plain sanitize fuzz windows msvc-abi win32 win32-stdcall)
for name in "${stages[@]}"; do head -n 1 "build-tests/$name.summary"; done
read -r passed failed skipped < <(for name in "${stages[@]}"; do sed -n 2p "build-tests/$name.summary"; done |
  awk '{ p += $1; f += $2; s += $3 } END { print p, f, s }')
for name in "${stages[@]}"; do tail -n +3 "build-tests/$name.summary"; done
awk -F '\t' '{ print "not installed, so its stages or checks skip: " $2 ": " $3 }' build-tests/not-installed 2>/dev/null
for name in "${stages[@]}"; do
  if [ "$(head -n 1 "build-tests/$name.summary" | awk '{ print $2 }')" = failed, ]; then
    printf '\n== the log of the failed stage %s (build-tests/%s.log)\n' "$name" "$name"
    cat "build-tests/$name.log"
  fi
done
echo "tests: $passed passed, $failed failed, $skipped skipped, in $((SECONDS - start)) s"
[ "$failed" -eq 0 ]
