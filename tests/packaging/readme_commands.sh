#!/usr/bin/env bash
# Every build command that the README and CONTRIBUTING.md show, copied from them and run as
# written, in order, in a fresh copy of the sources whose path holds a space, as a new user
# would; then what each should have made. Placeholders stand for files a user brings:
# /path/to/libVL_OSALib.so is the simulated module built as a shared library with no SONAME,
# as a vendor may ship it; /path/to/VL_OSALib.h the nine declarations of module/vl_osalib.h
# written out plainly; /path/to/VL_OSALib.lib the import library of a stand-in DLL built from
# it, or, in a command for __stdcall, the one that the README's commands make with dlltool
# from a .def file.
# DESTDIR stages the install, and the removal with it. The test command itself and the
# benchmark are not run from here. The labels are read from a plain test build configured
# here: ctest --print-labels in the test command's own build would write that build's test
# log while its tests run, and lose what they printed.
set -uo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/source tree" staged=$work/staged
mkdir -p "$tree" "$work/vendor/x86_64" "$work/vendor/i686"
(cd "$source" && git ls-files -z | xargs -0 cp --parents -t "$tree")
failures=0 checks=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@" >"$work/check.log" 2>&1; then
    echo "ok: $what"
  else
    failures=$((failures + 1))
    echo "FAIL: $what"
    sed 's/^/    /' "$work/check.log" | tail -n 30
  fi
}

for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix clang-cl-14 lld-link-14 llvm-objdump-14; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: the README's Windows commands need $tool (.ci/run installs them)"; exit 77; }
done
"${CXX:-c++}" -shared -fPIC -O2 -I"$tree" -o "$work/vendor/libVL_OSALib.so" "$tree/simulator/vl_osalib_sim.cpp" || exit 1
sed -n 's/VSL_AnalogReading/float/; s/^VL_OSALIB_API \(.*\)VSL_CALL /\1/p' "$tree/module/vl_osalib.h" |
  tee "$work/vendor/VL_OSALib.h" | sed 's/^float/double/' >"$work/vendor/double.h"  # one differs in the reading's type
x86_64-w64-mingw32-g++-posix -shared -static -O2 -I"$tree" -DVL_OSALIB_EXPORTS -o "$work/vendor/x86_64/VL_OSALib.dll" \
  -Wl,--out-implib,"$work/vendor/x86_64/VL_OSALib.lib" "$tree/simulator/vl_osalib_sim.cpp" || exit 1

mapfile -t commands < <(sed -n 's/^    \(\(cmake\|man\|printf\|i686-w64-mingw32-dlltool\) .*\)$/\1/p' \
  "$source/README.md" "$source/CONTRIBUTING.md")
[ "${#commands[@]}" -ge 16 ] || { echo "FAIL: only ${#commands[@]} commands found in the README and CONTRIBUTING.md"; exit 1; }
check "the README has at most 150 lines" test "$(wc -l <"$source/README.md")" -le 150
# The q comes from a here-string, not a pipe: a command that reads nothing may end before a
# writer into a pipe has written, which would then die of SIGPIPE and fail the check.
run() { cd "${2:-$tree}" && DESTDIR=$staged MANPAGER=cat bash -c "$1" >"$work/out.txt" <<<q; }
removal() (  # what the README's removal left; then, with no DESTDIR, after an install and a staged one to the same prefix
  cd "$staged" && [ "$(find . | LC_ALL=C sort | tr '\n' ' ')" = ". ./usr ./usr/local ./usr/local/bin ./usr/local/share \
./usr/local/share/doc ./usr/local/share/doc/quillterm ./usr/local/share/man ./usr/local/share/man/man1 " ] && cd "$tree" &&
    cmake --install build --prefix "$work/real" && DESTDIR=$staged cmake --install build --prefix "$work/real" &&
    cmake -P build/uninstall.cmake && [ -z "$(find "$staged" ! -type d)" ] && [ "$(find "$work/real" -type f | wc -l)" -eq 5 ]
)
for command in "${commands[@]}"; do
  command=${command//\/path\/to\/libVL_OSALib.so/$work/vendor/libVL_OSALib.so}
  command=${command//\/path\/to\/VL_OSALib.h/$work/vendor/VL_OSALib.h}
  arch=x86_64
  [[ $command = *__stdcall* ]] && arch=i686
  command=${command//\/path\/to\/VL_OSALib.lib/$work/vendor/$arch/VL_OSALib.lib}
  where=$tree
  [[ $command = printf* || $command = *-dlltool* ]] && where=$work/vendor/i686
  check "$command" run "$command" "$where"
  case $command in
    *"./build/quillterm")
      check "configure said that the module is simulated, and the program ran to its termination line" bash -c "cd '$work' &&
        grep -q 'linked with the simulated module' out.txt && grep -qx 'What is your selection? Program Terminating...' out.txt" ;;
    "cmake -P "*)
      check "the removal left only the folders that the install made, and after an install and a staged one, the first" removal ;;
    "man "*)
      check "the manual page reads without warnings" \
        bash -c "cd '$tree' && [ -z \"\$(man --warnings -l doc/quillterm.1 2>&1 >/dev/null)\" ]" ;;
  esac
done

installed=$staged/usr/local
# Configure names the library linked. It has no SONAME, and is needed by its name: found in its
# folder; then, moved into the folder that the build tree's program starts in, not found there
# (no run path holds an empty entry: status 127), but through LD_LIBRARY_PATH.
vendor_library() (
  cd "$work" && [[ $(cmake "$tree/build-vendor") = *"linked with the vendor's library $work/vendor/libVL_OSALib.so"* ]] &&
    ! readelf -d "$tree/build-vendor/quillterm" "$installed/bin/quillterm" | grep -E 'NEEDED.*/|RUNPATH.*(\[:|::|:])' &&
    "$installed/bin/quillterm" <<<q | grep -q Terminating && mv vendor/libVL_OSALib.so . || exit 1
  "$tree/build-vendor/quillterm" <<<q 2>moved.txt; [ $? -eq 127 ] && grep -q 'libraries: libVL_OSALib.so: cannot open' moved.txt &&
    LD_LIBRARY_PATH=$work "$installed/bin/quillterm" <<<q | grep -q Terminating
)
check "the vendor's library, named by configure, is needed by name, never from the current folder (else 127)" vendor_library
check "the ZIP holds the program, the README, the licence and the stand-in DLL, stripped" \
  bash -c "unzip -Z1 '$tree'/build-windows/quillterm-*-win64.zip | sort | tr '\n' ' ' |
           grep -q 'LICENSE .*README.md .*quillterm.exe .*simulator/VL_OSALib.dll' &&
           unzip -p '$tree'/build-windows/quillterm-*-win64.zip '*/simulator/VL_OSALib.dll' >'$work/stand-in.dll' &&
           ! llvm-objdump-14 -h '$work/stand-in.dll' | grep -q debug"
for zip in build-windows-x86/quillterm-1.0.0-win32 build-msvc-abi/quillterm-1.0.0-win64-msvc \
  build-windows-vendor/quillterm-1.0.0-win64-vendor build-windows-x86-stdcall/quillterm-1.0.0-win32-stdcall-vendor; do
  stand_in= && [[ $zip = *-vendor ]] && stand_in=!
  check "$zip.zip is there, with the stand-in DLL only if it was built with it" \
    bash -c "unzip -Z1 '$tree/$zip.zip' >'$work/zip.txt' && grep -q quillterm.exe '$work/zip.txt' &&
             $stand_in grep -q simulator/VL_OSALib.dll '$work/zip.txt'"
done
imports() {  # build folder, format, and the calling convention if any
  cmake -DOBJDUMP=llvm-objdump-14 -DEXECUTABLE="$tree/$1/quillterm.exe" -DFORMAT="$2" -DCALLING_CONVENTION="${3:-}" \
    -P "$source/tests/packaging/windows_imports.cmake" 2>&1
}
check "the program linked to an import library imports the vendor functions" imports build-windows-vendor coff-x86-64
check "the 32-bit program is one, and imports the vendor functions" imports build-windows-x86 coff-i386
check "with __stdcall and the import library that dlltool -k made, it imports them by their plain names" \
  imports build-windows-x86-stdcall coff-i386
check "the MSVC-ABI program imports only kernel32, ucrtbase and the vendor functions" \
  bash -c "$(declare -f imports); tree='$tree' source='$source' imports build-msvc-abi coff-x86-64 |
           grep -q 'dlls=VL_OSALib.dll,kernel32.dll,ucrtbase.dll '"
if command -v lintian >/dev/null; then
  check "lintian finds no error and no warning in the Debian package" \
    bash -c "deb=\$(ls '$tree'/build-deb/quillterm_*.deb) && lintian \"\$deb\" >'$work/lintian.txt' 2>&1;
             cat '$work/lintian.txt'; ! grep -q '^[EW]:' '$work/lintian.txt'"
else
  echo "SKIPPED: lintian is not installed (apt-get install lintian)"
fi
# Configure must stop, and say so (compared as one line, as CMake wraps its messages).
configure_says() {  # the message, then cmake's arguments
  local message=$1
  shift
  if (cd "$tree" && cmake "$@") >"$work/configure.log" 2>&1; then echo "configure did not stop"; return 1; fi
  tr -s ' \n' '  ' <"$work/configure.log" | grep -F "$message" >/dev/null || { cat "$work/configure.log"; return 1; }
}
check "configure stops at a vendor library that is not there, and names it" configure_says \
  "QUILLTERM_VENDOR_LIBRARY names no file: $work/none.so" -S . -B build-none -DQUILLTERM_VENDOR_LIBRARY="$work/none.so"
(cd "$work/vendor/i686" && grep -v VSL_Close VL_OSALib.def >partial.def && i686-w64-mingw32-dlltool -k -d partial.def -l partial.lib)
check "configure names the one function that an import library lacks, and the README's way to make one" \
  configure_says "QUILLTERM_VENDOR_LIBRARY $work/vendor/i686/partial.lib lacks what this build links: _VSL_Close@0. \
An import library with them can be made from the DLL with a .def file and dlltool -k: see \"An import library from \
the DLL\" in README.md." --preset windows-x86 -B build-partial -DQUILLTERM_VENDOR_CALLING_CONVENTION=__stdcall \
  -DQUILLTERM_VENDOR_LIBRARY="$work/vendor/i686/partial.lib"
check "configure stops at a vendor header whose analog reading is a double, and names the function" configure_says \
  "VSL_ADCGetAnalogInput_vendor_vs_ours<double" -S . -B build-none -DQUILLTERM_VENDOR_LIBRARY= -DQUILLTERM_VENDOR_HEADER="$work/vendor/double.h"
check "the README has the section that configure points to" grep -qx '### An import library from the DLL' "$source/README.md"
check "a Windows preset's configure says truly why the tests are left out" \
  bash -c "cd '$tree' && cmake --preset windows-x64 | grep -q 'tests left out, as QUILLTERM_TESTS is OFF'"
check "without GoogleTest configure says why the tests are left out, or what to install if asked for; the benchmark builds" \
  bash -c "cd '$tree' && ! out=\$(cmake -S . -B build-no-gtest-asked -DQUILLTERM_TESTS=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON 2>&1) &&
           grep -q 'libgtest-dev libgmock-dev' <<<\"\$out\" && cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUILLTERM_BENCH=ON \
           -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON | grep 'tests left out, for want of GoogleTest' &&
           cmake --build build-bench --target quillterm_fake bench_baseline"
labels=$work/labels
cmake -S "$tree" -B "$labels" -DQUILLTERM_TESTS=ON >/dev/null 2>&1
check "CONTRIBUTING.md names the labels that the plain build's tests carry" \
  diff <(grep '^| plain |' "$source/CONTRIBUTING.md" | grep -o '`[^`]*`' | tr -d '`' | sort) \
  <(ctest --test-dir "$labels" --print-labels | sed -n 's/^  //p' | sort)
echo "measured: readme_commands passed=$((checks - failures)) failed=$failures"
[ "$failures" -eq 0 ]
