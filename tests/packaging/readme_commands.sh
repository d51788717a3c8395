#!/usr/bin/env bash
# Every build command that the README and CONTRIBUTING.md show, copied from them and run as
# written, in order, in a fresh copy of the sources whose path holds a space, as a new user
# would; then what each should have made. The files a user brings are in a folder of their
# own, which /path/to/ stands for: libVL_OSALib.so is the simulated module built as a shared
# library with no SONAME, as a vendor may ship it; VL_OSALib.h the nine declarations of
# module/vl_osalib.h written out plainly; VL_OSALib.lib the import library of a stand-in DLL
# built from it, or, in a command for __stdcall, the one that the README's commands make
# with dlltool from a .def file, in a 32-bit folder of its own.
# DESTDIR stages the install, and the removal with it. The test command itself and the
# benchmark are not run from here. The labels are read from the build that CONTRIBUTING.md's
# test commands made in the copy: ctest --print-labels in the test command's own build would
# write that build's test log while its tests run, and lose what they printed.
set -uo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/source tree" staged=$work/staged vendor=$work/vendor/x86_64 vendor32=$work/vendor/i686
mkdir -p "$tree" "$vendor" "$vendor32"
(cd "$source" && git ls-files -z | xargs -0 cp --parents -t "$tree")
failures=0 checks=0
check() {  # description, then a command that must succeed
  checks=$((checks + 1))
  "${@:2}" >"$work/check.log" 2>&1 && echo "ok: $1" && return
  failures=$((failures + 1))
  echo "FAIL: $1"
  sed 's/^/    /' "$work/check.log" | tail -n 30
}

for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix clang-cl-14 lld-link-14 llvm-objdump-14; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: the README's Windows commands need $tool (.ci/run installs them)"; exit 77; }
done
"${CXX:-c++}" -shared -fPIC -O2 -I"$tree" -o "$vendor/libVL_OSALib.so" "$tree/simulator/vl_osalib_sim.cpp" || exit 1
sed -n 's/VSL_AnalogReading/float/; s/^VL_OSALIB_API \(.*\)VSL_CALL /\1/p' "$tree/module/vl_osalib.h" |
  tee "$vendor/VL_OSALib.h" | sed 's/^float/double/' >"$work/double.h"  # one differs in the reading's type
x86_64-w64-mingw32-g++-posix -shared -static -O2 -I"$tree" -DVL_OSALIB_EXPORTS -o "$vendor/VL_OSALib.dll" \
  -Wl,--out-implib,"$vendor/VL_OSALib.lib" "$tree/simulator/vl_osalib_sim.cpp" || exit 1

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
  # The .def file and the import library for __stdcall are made in the 32-bit vendor folder.
  where=$tree folder=$vendor
  [[ $command = printf* || $command = *-dlltool* ]] && where=$vendor32
  [[ $command = *__stdcall* ]] && folder=$vendor32
  command=${command//\/path\/to\//$folder/}
  check "$command" run "$command" "$where"
  case $command in
    *"./build/quillterm")
      check "configure said that the module is simulated, and the program ran to its termination line" bash -c "cd '$work' &&
        grep -q 'linked with the simulated module' out.txt && grep -qx 'What is your selection? Program Terminating...' out.txt" ;;
    "cmake -P "*)
      check "the removal left only the folders that the install made, and after an install and a staged one, the first" removal ;;
  esac
done
check "the manual page reads without warnings" \
  bash -c "! man --warnings -l '$tree/doc/quillterm.1' 2>&1 >/dev/null | grep ."

# Configure names the library linked. It has no SONAME, and is needed by its name: found in its
# folder; then, moved into the folder that the build tree's program starts in, not found there
# (no run path holds an empty entry: status 127), but through LD_LIBRARY_PATH.
vendor_library() (
  cd "$work" && [[ $(cmake "$tree/build-vendor") = *"linked with the vendor's library $vendor/libVL_OSALib.so"* ]] &&
    ! readelf -d "$tree/build-vendor/quillterm" "$staged/usr/local/bin/quillterm" | grep -E 'NEEDED.*/|RUNPATH.*(\[:|::|:])' &&
    "$staged/usr/local/bin/quillterm" <<<q | grep -q Terminating && mv "$vendor/libVL_OSALib.so" . || exit 1
  "$tree/build-vendor/quillterm" <<<q 2>moved.txt; [ $? -eq 127 ] && grep -q 'libraries: libVL_OSALib.so: cannot open' moved.txt &&
    LD_LIBRARY_PATH=$work "$staged/usr/local/bin/quillterm" <<<q | grep -q Terminating
)
check "the vendor's library, named by configure, is needed by name, never from the current folder (else 127)" vendor_library
# Every ZIP holds the program, the README and the licence; and the stand-in DLL, stripped,
# unless it was built against the vendor's import library (-vendor in its name).
zip_holds() {
  unzip -Z1 "$tree"/$1 | LC_ALL=C sort | tee "$work/zip.txt" &&
    tr '\n' ' ' <"$work/zip.txt" | grep 'LICENSE .*README.md .*quillterm.exe ' >/dev/null || return 1
  if [[ $1 = *-vendor.zip ]]; then ! grep -q simulator/VL_OSALib.dll "$work/zip.txt"; return; fi
  unzip -p "$tree"/$1 '*/simulator/VL_OSALib.dll' >"$work/stand-in.dll" && ! llvm-objdump-14 -h "$work/stand-in.dll" | grep debug
}
for zip in windows/quillterm-*-win64 windows-x86/quillterm-*-win32 msvc-abi/quillterm-*-win64-msvc \
  windows-vendor/quillterm-*-win64-vendor windows-x86-stdcall/quillterm-*-win32-stdcall-vendor; do
  check "build-$zip.zip holds the program, the README and the licence, and the stand-in DLL, stripped, if built with it" \
    zip_holds "build-$zip.zip"
done
# Each program needs only system DLLs, and from VL_OSALib.dll the vendor functions by their
# plain names (with __stdcall too, through the import library that dlltool -k made); the
# MSVC-ABI one only kernel32 and ucrtbase.
imports() {  # build folder, and format
  cmake -DOBJDUMP=llvm-objdump-14 -DEXECUTABLE="$tree/$1/quillterm.exe" -DFORMAT="$2" \
    -P "$source/tests/packaging/windows_imports.cmake" 2>&1 | tee "$work/imports.txt" &&
    { [ "$1" != build-msvc-abi ] || grep -q 'dlls=VL_OSALib.dll,kernel32.dll,ucrtbase.dll ' "$work/imports.txt"; }
}
for build in windows-vendor:coff-x86-64 windows-x86:coff-i386 windows-x86-stdcall:coff-i386 msvc-abi:coff-x86-64; do
  check "the program of build-${build%:*} is ${build#*:}, and imports only system DLLs and the vendor functions" \
    imports "build-${build%:*}" "${build#*:}"
done
if command -v lintian >/dev/null; then
  check "lintian finds no error and no warning in the Debian package" \
    lintian --fail-on error,warning "$tree"/build-deb/quillterm_*.deb
else
  echo "SKIPPED: lintian is not installed (apt-get install lintian)"
fi
# What configure says, compared as one line, as CMake wraps its messages; and whether it stops.
configure_says() {  # "stops" or "goes on", what it says, then cmake's arguments
  local did=stops
  (cd "$tree" && cmake "${@:3}") 2>&1 | tee "$work/said.txt" && did="goes on"
  [ "$did" = "$1" ] && tr -s ' \n' '  ' <"$work/said.txt" | grep -F "$2" >/dev/null
}
check "configure stops at a vendor library that is not there, and names it" configure_says stops \
  "QUILLTERM_VENDOR_LIBRARY names no file: $work/none.so" -S . -B build-none -DQUILLTERM_VENDOR_LIBRARY="$work/none.so"
(cd "$vendor32" && grep -v VSL_Close VL_OSALib.def >partial.def && i686-w64-mingw32-dlltool -k -d partial.def -l partial.lib)
check "configure names the one function that an import library lacks, and the README's way to make one" \
  configure_says stops "QUILLTERM_VENDOR_LIBRARY $vendor32/partial.lib lacks what this build links: _VSL_Close@0. \
An import library with them can be made from the DLL with a .def file and dlltool -k: see \"An import library from \
the DLL\" in README.md." --preset windows-x86 -B build-partial -DQUILLTERM_VENDOR_CALLING_CONVENTION=__stdcall \
  -DQUILLTERM_VENDOR_LIBRARY="$vendor32/partial.lib"
check "configure stops at a vendor header whose analog reading is a double, and names the function" configure_says stops \
  "VSL_ADCGetAnalogInput_vendor_vs_ours<double" -S . -B build-none -DQUILLTERM_VENDOR_LIBRARY= -DQUILLTERM_VENDOR_HEADER="$work/double.h"
check "the README has the section that configure points to" grep -qx '### An import library from the DLL' "$source/README.md"
check "a Windows preset's configure says truly why the tests are left out" \
  configure_says "goes on" 'tests left out, as QUILLTERM_TESTS is OFF' --preset windows-x64
check "without GoogleTest configure says why the tests are left out, or what to install if asked for; the benchmark builds" \
  eval 'configure_says stops "libgtest-dev libgmock-dev" -S . -B build-no-gtest-asked -DQUILLTERM_TESTS=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON && configure_says "goes on" "tests left out, for want of GoogleTest" -S . \
    -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUILLTERM_BENCH=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON &&
    cmake --build "$tree/build-bench" --target quillterm_fake bench_baseline'
check "CONTRIBUTING.md names the labels that the plain build's tests carry" \
  diff <(grep '^| plain |' "$source/CONTRIBUTING.md" | grep -o '`[^`]*`' | tr -d '`' | sort) \
  <(ctest --test-dir "$tree/build-tests/plain" --print-labels | sed -n 's/^  //p' | sort)
echo "measured: readme_commands passed=$((checks - failures)) failed=$failures"
[ "$failures" -eq 0 ]
