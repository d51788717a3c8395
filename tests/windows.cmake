# The Windows build's tests. The executables need no compiler runtime DLL (checked on their
# imports, for every Windows build); and under wine, the cross-compiling emulator, the
# end-to-end transcripts, driven by the native build's test program. The fake is a
# VL_OSALib.dll of its own, in a folder of its own beside the executable that imports it,
# as the vendor's DLL would be.
add_library(fake_vendor_dll SHARED fake_vendor.cpp)
target_include_directories(fake_vendor_dll PRIVATE ${PROJECT_SOURCE_DIR})
# getenv and fopen, as in C: MSVC's deprecation of them is not for a test's own files.
target_compile_definitions(fake_vendor_dll PRIVATE VL_OSALIB_EXPORTS _CRT_SECURE_NO_WARNINGS)
target_link_libraries(fake_vendor_dll PRIVATE quillterm_warnings)
set_target_properties(fake_vendor_dll PROPERTIES OUTPUT_NAME VL_OSALib PREFIX "" IMPORT_PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)
target_link_libraries(quillterm_fake PRIVATE fake_vendor_dll)
set_target_properties(quillterm_fake PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)
if(MINGW)
  target_link_options(fake_vendor_dll PRIVATE -static)
  target_link_options(quillterm_fake PRIVATE -static)
endif()

find_program(QUILLTERM_OBJDUMP NAMES llvm-objdump-14 llvm-objdump)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(format coff-i386)
else()
  set(format coff-x86-64)
endif()
if(QUILLTERM_VENDOR_CALLING_CONVENTION STREQUAL "__stdcall" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(decorated decorated)
endif()
if(QUILLTERM_OBJDUMP)
  add_test(NAME windows_imports COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_imports.sh ${QUILLTERM_OBJDUMP}
    $<TARGET_FILE:quillterm> ${format} ${decorated})
else()
  add_test(NAME windows_imports COMMAND sh -c "echo 'SKIPPED: llvm-objdump is not installed (apt-get install llvm-14)'; exit 77")
  set_tests_properties(windows_imports PROPERTIES SKIP_RETURN_CODE 77)
endif()
set_tests_properties(windows_imports PROPERTIES LABELS windows TIMEOUT 60)

set(QUILLTERM_HOST_E2E_TEST "" CACHE FILEPATH "The native build's e2e_test, which drives the Windows executables")
if(NOT CMAKE_CROSSCOMPILING_EMULATOR OR NOT QUILLTERM_HOST_E2E_TEST)
  message(STATUS "Windows tests left out: they need wine64 and QUILLTERM_HOST_E2E_TEST (tests/run-all.sh sets both)")
  return()
endif()
get_filename_component(host_tests ${QUILLTERM_HOST_E2E_TEST} DIRECTORY)

# One wine server for the whole run (or the one already running there), started and
# warmed up once in a prefix of our own;
# without it every test would pay for starting one.
set(wine_environment
  WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d)
get_filename_component(wine_folder ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
add_test(NAME wine_start COMMAND sh -c
  "mkdir -p \"$WINEPREFIX\" && '${wine_folder}/wineserver' -p >/dev/null 2>&1 </dev/null; '${CMAKE_CROSSCOMPILING_EMULATOR}' wineboot --init >/dev/null 2>&1")
add_test(NAME wine_stop COMMAND sh -c "'${wine_folder}/wineserver' -k >/dev/null 2>&1; true")
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# Each wine process takes some 30 ms to start: fewer random sessions than natively.
add_test(NAME e2e_windows COMMAND ${QUILLTERM_HOST_E2E_TEST})
add_test(NAME stress_windows COMMAND ${host_tests}/stress_test)
set(program "$<$<NOT:$<BOOL:${QUILLTERM_VENDOR_LIBRARY}>>:$<TARGET_FILE:quillterm>>")
set_tests_properties(wine_start wine_stop e2e_windows stress_windows PROPERTIES ENVIRONMENT "${wine_environment}")
set_property(TEST e2e_windows stress_windows APPEND PROPERTY ENVIRONMENT
  QUILLTERM_E2E_WINDOWS=1
  QUILLTERM_E2E_SLOWNESS=4
  QUILLTERM_E2E_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
  QUILLTERM_E2E_FAKE=$<TARGET_FILE:quillterm_fake>
  QUILLTERM_E2E_PROGRAM=${program})
set_property(TEST stress_windows APPEND PROPERTY ENVIRONMENT QUILLTERM_SESSIONS=500 QUILLTERM_INTERRUPTS=40)
if(QUILLTERM_PRINTF_TIES_AWAY)
  set_property(TEST e2e_windows stress_windows APPEND PROPERTY ENVIRONMENT QUILLTERM_E2E_TIES_AWAY=1)
endif()
set_tests_properties(e2e_windows stress_windows PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e;windows" TIMEOUT 1500
  RESOURCE_LOCK wine_console)

add_test(NAME windows_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_package.sh ${PROJECT_BINARY_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_package PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e;windows" TIMEOUT 300
  RESOURCE_LOCK wine_console
  ENVIRONMENT "${wine_environment}")
