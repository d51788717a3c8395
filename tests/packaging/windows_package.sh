#!/usr/bin/env bash
# The Windows ZIP as a new user gets it: unpacked, it will not start until a VL_OSALib.dll
# stands beside the executable (under wine: status 53, nothing printed, as the README says);
# Windows shows in the program's and the stand-in's properties what they are, the version
# and the licence's copyright line, as read through Windows' own calls by the build's
# version_info.exe; and with the stand-in from its folder beside it, a whole session runs,
# the stand-in saying on standard error that it is simulated.
set -euo pipefail
build=$(cd "$1" && pwd) wine=$2 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G ZIP -B "$work" >/dev/null)
unzip -q "$work"/quillterm-*.zip -d "$work"
cd "$work"/quillterm-*/
# A Windows program: what it reads, then the program and its arguments. What it prints goes,
# without CR, to out.txt, and err.txt, and its exit status to status. wine now and then
# fails to start a process at all (status 1, nothing printed): then it runs once more.
retried=0
run() {
  "$wine" "${@:2}" <<<"$1" 2>err.txt | tr -d '\r' >out.txt && status=0 || status=$?
  [ "$status" -ne 1 ] || [ -s out.txt ] || [ -n "${again:-}" ] || { retried=$((retried + 1)); again=1 run "$@"; }
}
fail() { echo "FAIL: $1"; cat out.txt err.txt; exit 1; }
run q quillterm.exe
[ "$status" -eq 53 ] && [ ! -s out.txt ] && [ ! -s err.txt ] ||
  fail "with no VL_OSALib.dll beside it: status $status (not 53), or it printed:"
version=$(basename "$PWD" | cut -d - -f 2) copyright=$(grep -m 1 '^Copyright ' LICENSE)
properties() {  # the file, and its description
  printf '%s\n' "version $version.0" "ProductName: Quillterm" "FileDescription: $2" "FileVersion: $version" \
    "ProductVersion: $version" "LegalCopyright: $copyright" "OriginalFilename: ${1##*/}" >expected.txt
  run '' "$build/version_info.exe" "$1"
  diff expected.txt out.txt >&2 || fail "the properties of $1"
}
properties quillterm.exe "Console utility for the Versalogic MMPEEAX analog input module"
properties simulator/VL_OSALib.dll "Simulated MMPEEAX module, its readings generated, in place of Versalogic's VL_OSALib"
cp simulator/VL_OSALib.dll .
run $'1\n2\n3\n4\nq' quillterm.exe
[ "$status" -eq 0 ] && [ "$(tail -c 23 out.txt)" = "Program Terminating..." ] || fail "status $status, or no termination line"
grep -q '^What is your selection? AIN VALUES: ' out.txt || fail "no readout"
[ "$(grep -c 'LEVEL 0x01$' out.txt)" -eq 3 ] || fail "selection 4 after 3 did not read high"
[ "$(tr -d '\r' <err.txt)" = "VL_OSALib simulator: this is a simulated module; its readings are generated" ] || fail "stderr"
echo "measured: package_session status=0 lines=$(wc -l <out.txt) properties_as_expected=2"
echo "measured: failed_starts_retried=$retried"
