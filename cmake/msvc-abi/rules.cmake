# For clang-cl-wine-x86_64.cmake, read after CMake's own rules for MSVC-style compilers:
# the runtime's libraries; no exceptions or RTTI, whose support lives in Microsoft's
# runtime, not in ucrtbase.dll (the project's code uses neither); debug flags without the
# checks of Microsoft's runtime.
foreach(language C CXX)
  set(CMAKE_${language}_STANDARD_LIBRARIES_INIT
    "${quillterm_wine_lib}/libucrtbase.a ${quillterm_wine_lib}/libkernel32.a")
  string(REPLACE "/RTC1" "" CMAKE_${language}_FLAGS_DEBUG_INIT "${CMAKE_${language}_FLAGS_DEBUG_INIT}")
endforeach()
string(REPLACE "/EHsc" "/GR- /EHs-c-" CMAKE_CXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")
