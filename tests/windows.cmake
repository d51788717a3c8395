# The Windows build's tests: the end-to-end transcripts, driven by the native build's test
# program, against the Windows executables run under wine, the cross-compiling emulator.
# The fake is a VL_OSALib.dll of its own, in a folder of its own beside the executable
# that imports it, as the vendor's DLL would be.
add_library(fake_vendor_dll SHARED fake_vendor.cpp)
target_include_directories(fake_vendor_dll PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(fake_vendor_dll PRIVATE VL_OSALIB_EXPORTS)
target_link_libraries(fake_vendor_dll PRIVATE quillterm_warnings)
target_link_options(fake_vendor_dll PRIVATE -static)
set_target_properties(fake_vendor_dll PROPERTIES OUTPUT_NAME VL_OSALib PREFIX "" IMPORT_PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)
target_link_libraries(quillterm_fake PRIVATE fake_vendor_dll)
target_link_options(quillterm_fake PRIVATE -static)
set_target_properties(quillterm_fake PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)

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
set_tests_properties(e2e_windows stress_windows PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e;windows" TIMEOUT 1500
  RESOURCE_LOCK wine_console)

add_test(NAME windows_package
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_package.sh ${PROJECT_BINARY_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_package PROPERTIES FIXTURES_REQUIRED wine LABELS "e2e;windows" TIMEOUT 300
  RESOURCE_LOCK wine_console
  ENVIRONMENT "${wine_environment}")
