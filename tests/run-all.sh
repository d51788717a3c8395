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

# True if every command and every folder named is there.
have() {
  local thing
  for thing; do [ -d "$thing" ] || command -v "$thing" >/dev/null || return 1; done
}

# A stage: its name, then the cmake options of its build. Its tests run with ctest, once what
# its lane makes in the background (see windows below) is done. What it found goes to
# build-tests/NAME.summary: a line, then its counts of tests, then what its tests measured.
# A stage that needs more than the plain one names in needs the commands and folders it
# needs, in missing what to install, and in groups the groups of packages that .ci/run
# installs for it (its name if none). Without them it is skipped, saying why, with apt's
# reason for those groups that .ci/run could not install; it counts as one skipped test.
stage() {
  local name=$1 begun=$SECONDS log=build-tests/$1.log tested=build-tests/$1.tested result=failed
  if ! have ${needs:-}; then
    missing+=$(awk -F '\t' -v groups=" ${groups:-$name} " 'index(groups, " " $1 " ") { printf "; %s not installed: %s", $2, $3 }' build-tests/not-installed 2>/dev/null)
    echo "SKIPPED: the $name stage: $missing" >&2
    printf '%-13s skipped: %s\n0 0 1\n' "$name" "$missing" >"build-tests/$name.summary"
    return
  fi
  echo "== $name: started"
  if cmake -S . -B "build-tests/$name" "${generator[@]}" -DQUILLTERM_WERROR=ON "${@:2}" >"$log" 2>&1 &&
    cmake --build "build-tests/$name" -j 2 >>"$log" 2>&1; then
    wait
    ctest --test-dir "build-tests/$name" --output-on-failure -j 2 >>"$log" 2>&1 && result=passed
  else
    echo "the build failed" >>"$log"
  fi
  # What the tests printed, which ctest shows only on failure (Windows test programs end
  # their lines with CR LF).
  tr -d '\r' >"$tested" 2>/dev/null <"build-tests/$name/Testing/Temporary/LastTest.log"
  # ctest's own counts from its log (a test not run for want of another is among its failed
  # ones; a failure that is no test's, as the build's, counts as one failed test); then from
  # the tests' output GoogleTest's own counts of cases, the children that wine failed to
  # start, started once more, and what the tests measured.
  awk -v name="$name" -v result="$result" -v seconds=$((SECONDS - begun)) -v ctest_log="$log" '
    FILENAME == ctest_log && /^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+$/ { bad = $4; total = $NF }
    FILENAME == ctest_log && /\*\*\*Skipped/ { skip++ }
    FILENAME == ctest_log { next }
    /^\[  (PASSED  |SKIPPED )\] [0-9]+ test/ { cases[$2] += $4 }
    /^measured: failed_starts_retried=/ { sub(/.*=/, ""); retried += $0; starts = 1; next }
    /^(measured: |stat::number_of_executed_units|SKIPPED: )/ && !seen[$0]++ { sub(/^measured: /, ""); found[++n] = $0 }
    END {
      if (result == "failed" && !bad) { bad = 1; total = total ? total : 1 }
      printf "%-13s %s, %d tests (%d failed, %d skipped", name, result, total, bad, skip
      if (cases["PASSED"] + cases["SKIPPED"] > 0) printf "; cases %d passed, %d skipped", cases["PASSED"], cases["SKIPPED"]
      if (starts) printf "; %d failed starts retried", retried
      printf "), %d s\n%d %d %d\n", seconds, total - bad - skip, bad, skip
      for (i = 1; i <= n; i++) print name ": " found[i]
    }' "$log" "$tested" >"build-tests/$name.summary"
  awk '/: Skipped$/ { getline; print "skipped case: " $0 }' "$tested" | sort -u | sed "s/^/$name: /" >>"build-tests/$name.summary"
  echo "== $name: $(head -n 1 "build-tests/$name.summary" | cut -c15-)"
}

# The fuzzing stage needs nothing that either lane builds: the lane that is done first runs
# it, which is the Windows one where the 32-bit test programs cannot run.
fuzz() {
  mkdir build-tests/fuzz.claimed 2>/dev/null || return 0
  needs=clang++ missing="no clang++ (apt-get install clang libclang-rt-14-dev)" CXX=clang++ \
    stage fuzz -DQUILLTERM_FUZZ=ON -DQUILLTERM_TESTS=OFF
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
  local wine64=/usr/lib/wine/wine64 prefix=$PWD/build-tests/wineprefix googletest=$PWD/build-tests/googletest-i686
  local windows=(-DCMAKE_BUILD_TYPE=Release -DQUILLTERM_TESTS=ON -DQUILLTERM_WINE_PREFIX="$prefix")
  # In the background while the first stage builds: the prefix is booted (each stage's own
  # fixture boots it as well, when nothing has); and both 32-bit builds take GoogleTest built
  # once for them (the windows stage builds its own from the sources, as a user's build does).
  [ -x "$wine64" ] && [ ! -e "$prefix/.booted" ] && { mkdir -p "$prefix" &&
    WINEPREFIX=$prefix WINEDEBUG=-all "$wine64" wineboot -u && WINEPREFIX=$prefix /usr/lib/wine/wineserver -w &&
    touch "$prefix/.booted"; } >/dev/null 2>&1 </dev/null &
  have i686-w64-mingw32-g++-posix && { cmake -S /usr/src/googletest -B "$googletest" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$googletest/installed" &&
    cmake --build "$googletest" -j 2 && cmake --install "$googletest"; } >"$googletest.log" 2>&1 </dev/null &
  needs="x86_64-w64-mingw32-g++-posix $wine64 /usr/src/googletest" \
    missing="no g++-mingw-w64-x86-64-posix, wine64 or googletest (apt-get install g++-mingw-w64-x86-64-posix wine64 googletest)" \
    stage windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${windows[@]}"
  # Driven by the windows stage's test programs, when it made them: the same programs that
  # it would build with mingw-w64 beside it.
  needs="clang-cl-14 lld-link-14 llvm-lib-14 x86_64-w64-mingw32-g++-posix /usr/include/wine/wine/msvcrt /usr/lib/llvm-14/include/c++/v1 $wine64" \
    missing="no clang-cl, lld-link, mingw-w64, wine's headers or libc++'s (apt-get install clang-tools-14 lld-14 llvm-14 g++-mingw-w64-x86-64-posix libwine-dev wine64-tools libc++-14-dev wine64)" \
    groups="msvc-abi windows" stage msvc-abi -DCMAKE_TOOLCHAIN_FILE=cmake/clang-cl-wine-x86_64.cmake "${windows[@]}" \
    -DQUILLTERM_TEST_PROGRAMS="$([ -x build-tests/windows/e2e_test.exe ] && echo "$PWD/build-tests/windows")"
  # Both 32-bit stages configure with the GoogleTest built beside the first stages. Without
  # wine32 they are built all the same, and their tests count as skipped.
  wait
  windows+=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DGTest_DIR="$googletest/installed/lib/cmake/GTest")
  needs=i686-w64-mingw32-g++-posix missing="no g++-mingw-w64-i686-posix (apt-get install g++-mingw-w64-i686-posix)" \
    stage win32 "${windows[@]}"
  needs=i686-w64-mingw32-g++-posix missing="the same as the win32 stage" groups=win32 \
    stage win32-stdcall "${windows[@]}" -DQUILLTERM_VENDOR_CALLING_CONVENTION=__stdcall
  fuzz
}

native &
windows &
wait

printf '\n== summary\n'
summaries=(build-tests/{plain,sanitize,fuzz,windows,msvc-abi,win32,win32-stdcall}.summary)
sed -sn 1p "${summaries[@]}"
read -r passed failed skipped < <(sed -sn 2p "${summaries[@]}" | awk '{ p += $1; f += $2; s += $3 } END { print p, f, s }')
sed -s 1,2d "${summaries[@]}"
awk -F '\t' '{ print "not installed, so its stages or checks skip: " $2 ": " $3 }' build-tests/not-installed 2>/dev/null
for name in $(awk 'FNR == 1 && $2 == "failed," { print $1 }' "${summaries[@]}"); do
  printf '\n== the log of the failed stage %s (build-tests/%s.log)\n' "$name" "$name"
  cat "build-tests/$name.log"
done
echo "tests: $passed passed, $failed failed, $skipped skipped, in $SECONDS s"  # since this shell started
[ "$failed" -eq 0 ]
