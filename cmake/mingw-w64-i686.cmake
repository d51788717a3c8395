# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix),
# for a vendor VL_OSALib.dll that exists only as a 32-bit DLL. wine64 runs no 32-bit
# programs: the tests run under wine32.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
find_program(QUILLTERM_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(QUILLTERM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLTERM_WINE})
endif()
