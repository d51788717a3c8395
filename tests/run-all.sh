#!/usr/bin/env bash
# Builds and runs every test twice: a plain build with warnings as errors, and the same
# sources under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
for flavour in plain sanitize; do
  sanitize=OFF
  [ "$flavour" = sanitize ] && sanitize=ON
  echo "== $flavour build"
  cmake -S . -B "build-tests/$flavour" -DQUILLTERM_WERROR=ON -DQUILLTERM_SANITIZE="$sanitize"
  cmake --build "build-tests/$flavour" -j "$(nproc)"
  ctest --test-dir "build-tests/$flavour" --output-on-failure -j "$(nproc)"
done
