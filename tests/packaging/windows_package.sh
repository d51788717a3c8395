#!/usr/bin/env bash
# The Windows ZIP as a new user gets it: unpacked, it will not start until a VL_OSALib.dll
# stands beside the executable (under wine: status 53, nothing printed, as the README says);
# with the stand-in from its folder there, a whole session runs, the stand-in saying on
# standard error that it is simulated; and Windows shows in the program's and the
# stand-in's properties what they are, the version and the licence's copyright line, as
# read through Windows' own calls by the build's version_info.exe.
set -euo pipefail
build=$(cd "$1" && pwd)
wine=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G ZIP -B "$work" >/dev/null)
unzip -q "$work"/quillterm-*.zip -d "$work"
cd "$work"/quillterm-*/
# wine now and then fails to start a process at all (status 1, nothing printed): then once more.
retried=0
session() {
  status=0
  printf '%b' "$1" | "$wine" quillterm.exe >out.txt 2>err.txt || status=$?
  [ "$status" -ne 1 ] || [ -s out.txt ] || [ -n "${2:-}" ] || { retried=$((retried + 1)); session "$1" again; }
}
session 'q\n'
if [ "$status" -ne 53 ] || [ -s out.txt ] || [ -s err.txt ]; then
  echo "FAIL: with no VL_OSALib.dll beside it: status $status (not 53), or it printed:"; cat out.txt err.txt; exit 1
fi
cp simulator/VL_OSALib.dll .
session '1\n2\n3\n4\nq\n'
tr -d '\r' <out.txt >session.txt
fail() { echo "FAIL: $1"; cat session.txt err.txt; exit 1; }
[ "$status" -eq 0 ] || fail "status $status"
[ "$(tail -c 23 session.txt)" = "Program Terminating..." ] || fail "no termination line at the end"
grep -q '^What is your selection? AIN VALUES: ' session.txt || fail "no readout"
[ "$(grep -c 'LEVEL 0x01$' session.txt)" -eq 3 ] || fail "selection 4 after 3 did not read high"
[ "$(tr -d '\r' <err.txt)" = "VL_OSALib simulator: this is a simulated module; its readings are generated" ] || fail "stderr"
version=${PWD##*/quillterm-} copyright=$(grep -m 1 '^Copyright ' LICENSE)
version=${version%%-*}
properties() {  # folder, file, and its description
  printf '%s\n' "version $version.0" "ProductName: Quillterm" "FileDescription: $3" "FileVersion: $version" \
    "ProductVersion: $version" "LegalCopyright: $copyright" "OriginalFilename: $2" >expected.txt
  for attempt in first again; do
    (cd "$1" && "$wine" "$build/version_info.exe" "$2" | tr -d '\r') >properties.txt || true
    [ ! -s properties.txt ] || break
    [ "$attempt" = again ] || retried=$((retried + 1))
  done
  diff expected.txt properties.txt >&2 || { echo "FAIL: the properties of $2 ($attempt)"; exit 1; }
}
properties . quillterm.exe "Console utility for the Versalogic MMPEEAX analog input module"
properties simulator VL_OSALib.dll "Simulated MMPEEAX module, its readings generated, in place of Versalogic's VL_OSALib"
echo "measured: package_session status=0 lines=$(wc -l <session.txt) properties_as_expected=2"
echo "measured: failed_starts_retried=$retried"
