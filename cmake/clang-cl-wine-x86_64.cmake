# An MSVC-ABI build for 64-bit Windows made on Debian: clang-cl and lld-link, against
# wine's C runtime (ucrtbase.dll, a system DLL since Windows 10), its Windows headers and
# import libraries, and libc++'s headers for the C++ library (used header-only). It shows
# that the code builds with an MSVC-style compiler at /W4 /WX and runs on the UCRT; the
# few pieces that Microsoft's own libraries would supply are in msvc-abi/, and a Visual
# Studio build on Windows needs none of this file.
#   apt-get install clang-tools-14 lld-14 llvm-14 libwine-dev wine64-tools libc++-14-dev
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
# Without these CMake would only say that a compiler is not found: say what to install.
foreach(tool clang-cl-14 lld-link-14 llvm-lib-14)
  find_program(quillterm_${tool} ${tool})
  if(NOT quillterm_${tool})
    message(FATAL_ERROR "The msvc-abi build needs ${tool}: apt-get install clang-tools-14 lld-14 llvm-14 libwine-dev wine64-tools libc++-14-dev")
  endif()
endforeach()
foreach(folder /usr/include/wine/wine/msvcrt /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/llvm-14/include/c++/v1)
  if(NOT IS_DIRECTORY ${folder})
    message(FATAL_ERROR "The msvc-abi build needs ${folder}: apt-get install clang-tools-14 lld-14 llvm-14 libwine-dev wine64-tools libc++-14-dev")
  endif()
endforeach()
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_MT llvm-mt-14)

set(quillterm_wine_include /usr/include/wine/wine)
set(quillterm_wine_lib /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
# /Zl drops the runtime's default library names, /GS- its stack cookies and
# /Zc:threadSafeInit- its lock around function-local statics: the runtime here is
# ucrtbase.dll alone. (The program's one such static is set in main before a second
# thread can exist.) libc++ is told that there is no vcruntime, no libc++ library to
# link and no threads; wine's winnt.h defines a function under the name of a clang builtin.
# The flags become one command line, so a path that may hold a space is quoted.
string(JOIN " " quillterm_flags --target=x86_64-pc-windows-msvc /GS- /Zl /Zc:threadSafeInit-
  -imsvc /usr/lib/llvm-14/include/c++/v1 "-imsvc \"${CMAKE_CURRENT_LIST_DIR}/msvc-abi\""
  -imsvc ${quillterm_wine_include}/msvcrt -imsvc ${quillterm_wine_include}/windows
  -D_LIBCPP_NO_VCRUNTIME -D_LIBCPP_NO_AUTO_LINK -D_LIBCPP_HAS_NO_THREADS -D_LIBCPP_DISABLE_EXTERN_TEMPLATE
  -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS
  -D_InterlockedCompareExchange128=quillterm_InterlockedCompareExchange128)
set(CMAKE_C_FLAGS_INIT "${quillterm_flags}")
set(CMAKE_CXX_FLAGS_INIT "${quillterm_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "/MANIFEST:NO /entry:mainCRTStartup")
set(CMAKE_SHARED_LINKER_FLAGS_INIT /MANIFEST:NO)
# The runtime's libraries, and debug flags without the checks of Microsoft's runtime, set
# after CMake's own settings for MSVC-style compilers.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/msvc-abi/rules.cmake)
set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreadedDLL)
# Linked into every executable and DLL of this build; see the files.
set(QUILLTERM_RUNTIME_GLUE ${CMAKE_CURRENT_LIST_DIR}/msvc-abi/runtime.cpp ${CMAKE_CURRENT_LIST_DIR}/msvc-abi/startup.cpp)

# wine 8's ucrtbase prints a value exactly halfway between two outputs of %.2f rounded away
# from zero (719767.125 as 719767.13), where Windows' own UCRT since Windows 10 2004, glibc
# and mingw-w64 round it to even (719767.12): the tests' model follows the runtime.
set(QUILLTERM_PRINTF_TIES_AWAY ON)

find_program(QUILLTERM_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(QUILLTERM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLTERM_WINE})
endif()
