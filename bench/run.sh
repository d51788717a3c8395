#!/usr/bin/env bash
# Builds the program and its baseline in a release tree and prints the benchmark table.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUILLTERM_BENCH=ON >/dev/null
cmake --build build-bench --target quillterm_fake bench_baseline -j "$(nproc)" >/dev/null
command -v strace >/dev/null || { echo "bench needs strace (apt-get install strace)" >&2; exit 1; }
python3 bench/measure.py build-bench
