#!/usr/bin/env bash
# What a Windows executable needs in order to start: its format, and what it imports. It
# must need no compiler runtime DLL: only system DLLs, and from VL_OSALib.dll the vendor
# functions by name (decorated as name@bytes where they are __stdcall on 32-bit Windows).
# Usage: windows_imports.sh OBJDUMP EXECUTABLE FORMAT [decorated]
set -euo pipefail
objdump=$1 exe=$2 format=$3 decorated=${4:-}
"$objdump" -f "$exe" | grep -q "file format $format\$" || { "$objdump" -f "$exe"; echo "FAIL: not $format"; exit 1; }
imports=$("$objdump" -p "$exe" | awk '
  /DLL Name:/ { dll = $3; next }
  /^$/ || /Export Table/ { dll = "" }
  dll != "" && NF >= 2 && $1 ~ /^[0-9]+$/ { print dll, $NF }')
dlls=$(cut -d' ' -f1 <<<"$imports" | sort -u | tr '\n' ' ')
echo "$exe ($format) imports from: $dlls"
vendor=$(grep -i '^VL_OSALib.dll ' <<<"$imports" | cut -d' ' -f2)
echo "from VL_OSALib.dll: $(tr '\n' ' ' <<<"$vendor")"
for dll in $dlls; do
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | vl_osalib.dll) ;;
    *) echo "FAIL: imports $dll"; exit 1 ;;
  esac
done
[ "$(wc -l <<<"$vendor")" -ge 8 ] || { echo "FAIL: too few vendor functions"; exit 1; }
pattern='^VSL_[A-Za-z]+$'
[ -z "$decorated" ] || pattern='^_?VSL_[A-Za-z]+@[0-9]+$'
if grep -vqE "$pattern" <<<"$vendor"; then
  echo "FAIL: vendor functions not named as expected ($pattern)"
  exit 1
fi
echo "imports as expected"
