# Shared by the mingw-w64 toolchain files: Debian's cross compilers with the posix thread
# model, for the processor that the including file names.
set(CMAKE_SYSTEM_NAME Windows)
set(quillterm_triplet ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${quillterm_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quillterm_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${quillterm_triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${quillterm_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
