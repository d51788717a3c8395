# Where the tests' GoogleTest and GoogleMock come from, in quillterm_googletest: "installed"
# (Debian's packages; vcpkg's, through its toolchain file, for Visual Studio), "sources"
# (Debian's sources, built with a mingw-w64 cross compiler: the installed ones are for
# Linux), "mingw" (the test programs built with mingw-w64 beside an MSVC-ABI cross build),
# or empty; and in quillterm_googletest_hint, what gets them where they are missing.
find_package(GTest QUIET)
set(quillterm_googletest_sources /usr/src/googletest)
if(GTest_FOUND)
  set(quillterm_googletest installed)
elseif(MINGW AND CMAKE_CROSSCOMPILING AND EXISTS ${quillterm_googletest_sources}/CMakeLists.txt)
  set(quillterm_googletest sources)
elseif(MSVC AND CMAKE_CROSSCOMPILING AND NOT QUILLTERM_TEST_PROGRAMS)
  # GoogleTest does not build with clang-cl against wine's runtime: the test programs are
  # built with mingw-w64 instead, beside this build.
  find_program(QUILLTERM_MINGW_CXX x86_64-w64-mingw32-g++-posix)
  set(quillterm_googletest "")
  if(QUILLTERM_MINGW_CXX AND EXISTS ${quillterm_googletest_sources}/CMakeLists.txt)
    set(quillterm_googletest mingw)
  endif()
else()
  set(quillterm_googletest "")
endif()

if(MSVC AND CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "GoogleTest does not build with this toolchain, so the test programs are built \
with mingw-w64: apt-get install g++-mingw-w64-x86-64-posix googletest")
elseif(WIN32 AND NOT CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "configure through vcpkg, which installs them from vcpkg.json: \
the vs2022 presets do, with VCPKG_ROOT set")
elseif(CMAKE_CROSSCOMPILING)
  set(quillterm_googletest_hint "apt-get install googletest, whose sources are built here with the cross compiler")
else()
  set(quillterm_googletest_hint "apt-get install libgtest-dev libgmock-dev")
endif()
