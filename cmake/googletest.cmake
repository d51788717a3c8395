# Where the tests' GoogleTest and GoogleMock come from, in quillterm_googletest: "installed"
# (Debian's packages; vcpkg's, through its toolchain file, for Visual Studio), "sources"
# (Debian's sources, built with a mingw-w64 cross compiler: the installed ones are for
# Linux), or empty; and in quillterm_googletest_hint, what gets them where they are missing.
find_package(GTest QUIET)
set(quillterm_googletest_sources /usr/src/googletest)
if(GTest_FOUND)
  set(quillterm_googletest installed)
elseif(MINGW AND CMAKE_CROSSCOMPILING AND EXISTS ${quillterm_googletest_sources}/CMakeLists.txt)
  set(quillterm_googletest sources)
else()
  set(quillterm_googletest "")
endif()

if(MSVC AND CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "GoogleTest does not build with this toolchain; QUILLTERM_TEST_PROGRAMS names a \
folder of Windows test programs built with mingw-w64 (tests/run-all.sh hands them in)")
elseif(WIN32 AND NOT CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "configure through vcpkg, which installs them from vcpkg.json: \
the vs2022 presets do, with VCPKG_ROOT set")
elseif(CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "apt-get install googletest, whose sources are built here with the cross compiler")
else()
  set(quillterm_googletest_hint "apt-get install libgtest-dev libgmock-dev")
endif()
