#!/usr/bin/env bash
# Builds and runs every test: a plain build with warnings as errors (with the valgrind run
# and the static checks), the same sources under AddressSanitizer and
# UndefinedBehaviorSanitizer, a short fuzzing run, and the Windows cross build under wine.
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
  local name=$1 start=$SECONDS log="build-tests/$1.log" result
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
  # What the stress and fuzzing tests measured, which ctest shows only on failure.
  grep -hE '^[0-9]+ (sessions compared|interrupts sent)|^stat::number_of_executed_units|^package session|^README commands' \
    "build-tests/$name/Testing/Temporary/LastTest.log" 2>/dev/null | sed "s/^/$name: /"
  local total bad skip
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log")
  bad=$(sed -n 's/.* \([0-9]*\) tests failed out of .*/\1/p' "$log")
  skip=$(grep -c '\*\*\*Skipped\|Not Run' "$log")
  total=${total:-0} bad=${bad:-0}
  if [ "$result" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1 total=$((total > 0 ? total : 1)); fi
  passed=$((passed + total - bad - skip)) failed=$((failed + bad)) skipped=$((skipped + skip))
  local verdict=passed
  [ "$result" -eq 0 ] || verdict=failed
  summary+=("$(printf '%-9s %s, %d tests (%d failed, %d skipped), %d s' "$name" "$verdict" "$total" "$bad" "$skip" \
    $((SECONDS - start)))")
}

skip() {  # name, reason
  echo "SKIPPED: the $1 stage: $2" >&2
  summary+=("$(printf '%-9s skipped: %s' "$1" "$2")")
}

stage plain -DQUILLTERM_TESTS=ON
stage sanitize -DQUILLTERM_TESTS=ON -DQUILLTERM_SANITIZE=ON

if command -v clang++ >/dev/null; then
  CXX=clang++ stage fuzz -DQUILLTERM_FUZZ=ON -DQUILLTERM_TESTS=OFF
else
  skip fuzz "no clang++ (apt-get install clang libclang-rt-14-dev)"
fi

wine=/usr/lib/wine/wine64
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine" ]; then
  skip windows "no g++-mingw-w64-x86-64-posix or wine64 (apt-get install g++-mingw-w64-x86-64-posix wine64)"
elif [ ! -x build-tests/plain/e2e_test ]; then
  skip windows "the plain stage built no e2e_test to drive it"
else
  stage windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DQUILLTERM_TESTS=ON \
    -DQUILLTERM_HOST_E2E_TEST="$PWD/build-tests/plain/e2e_test"
fi

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
