# Cross-compiles for 64-bit Windows with Debian's mingw-w64; the tests run the executables
# under wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
find_program(QUILLTERM_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(QUILLTERM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLTERM_WINE})
endif()
