# The Windows build's tests. The fake is a VL_OSALib.dll of its own, in a folder of its
# own beside its own copy of the program, as the vendor's DLL would be. Cross-built here,
# every test runs under wine, the cross-compiling emulator.
# getenv, fopen and sscanf, as in C: MSVC's deprecation of them is not for the tests' own
# files.
add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
add_library(fake_vendor_dll SHARED support/fake_vendor.cpp)
target_include_directories(fake_vendor_dll PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(fake_vendor_dll PRIVATE VL_OSALIB_EXPORTS)
target_link_libraries(fake_vendor_dll PRIVATE quillterm_warnings)
set_target_properties(fake_vendor_dll PROPERTIES OUTPUT_NAME VL_OSALib PREFIX "" IMPORT_PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)
target_link_libraries(quillterm_fake PRIVATE fake_vendor_dll)
set_target_properties(quillterm_fake PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fake)
# Reads a file's version information as Windows' file properties do, for the package check.
add_executable(version_info packaging/version_info.cpp)
target_link_libraries(version_info PRIVATE quillterm_warnings)
if(quillterm_wine_lib)
  # The MSVC-ABI build links wine's import libraries by path.
  target_link_libraries(version_info PRIVATE ${quillterm_wine_lib}/libversion.a)
else()
  target_link_libraries(version_info PRIVATE version)
endif()
if(MINGW)
  target_link_options(fake_vendor_dll PRIVATE -static)
  target_link_options(quillterm_fake PRIVATE -static)
  target_link_options(version_info PRIVATE -static)
endif()

function(quillterm_windows_tests)
  # What the executable needs in order to start.
  find_program(QUILLTERM_OBJDUMP NAMES llvm-objdump-14 llvm-objdump)
  if(QUILLTERM_OBJDUMP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(format coff-i386)
    else()
      set(format coff-x86-64)
    endif()
    add_test(NAME windows_imports COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${QUILLTERM_OBJDUMP}
      -DEXECUTABLE=$<TARGET_FILE:quillterm> -DFORMAT=${format} -DCALLING_CONVENTION=${QUILLTERM_VENDOR_CALLING_CONVENTION}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows_imports.cmake)
  else()
    quillterm_skipped(windows_imports "llvm-objdump is not installed (LLVM's tools; on Debian apt-get install llvm-14)")
  endif()
  set_tests_properties(windows_imports PROPERTIES LABELS windows TIMEOUT 60)

  if(NOT CMAKE_CROSSCOMPILING)
    return()
  elseif(quillterm_cannot_run)
    quillterm_skipped(windows_package "${quillterm_cannot_run}")
    return()
  endif()
  # One wine server for the whole run, in a prefix of our own (or one that several builds
  # share), made once as wine's own tests make theirs: booted, then waited on until nothing
  # of its first boot still runs. The server's own processes are started with it, here:
  # started by a test, they would hold its output open.
  set(QUILLTERM_WINE_PREFIX ${PROJECT_BINARY_DIR}/wineprefix CACHE PATH "The wine prefix that the tests run in")
  set(wine_environment WINEPREFIX=${QUILLTERM_WINE_PREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d)
  get_filename_component(wine_folder ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
  add_test(NAME wine_start COMMAND sh -c "mkdir -p \"$WINEPREFIX\" && { [ -e \"$WINEPREFIX/.booted\" ] ||
    { '${CMAKE_CROSSCOMPILING_EMULATOR}' wineboot -u && '${wine_folder}/wineserver' -w && touch \"$WINEPREFIX/.booted\"; };
    } >/dev/null 2>&1 &&
    '${wine_folder}/wineserver' -p </dev/null >/dev/null 2>&1 &&
    '${CMAKE_CROSSCOMPILING_EMULATOR}' cmd /c exit </dev/null >/dev/null 2>&1")
  add_test(NAME wine_stop COMMAND sh -c "'${wine_folder}/wineserver' -k >/dev/null 2>&1; true")
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

  # The ZIP as a new user gets it, unpacked and run.
  add_test(NAME windows_package
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows_package.sh ${PROJECT_BINARY_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(windows_package PROPERTIES LABELS "e2e;windows" TIMEOUT 300)

  # Each wine process takes some time to start: fewer random sessions than natively. The
  # tests that start programs under wine run one at a time.
  set(programs e2e_test differential_test interrupt_moments)
  if(TARGET module_test)
    list(APPEND programs module_test simulator_test)
  endif()
  set_property(TEST wine_start wine_stop windows_package ${programs} APPEND PROPERTY ENVIRONMENT ${wine_environment})
  set_tests_properties(windows_package ${programs} PROPERTIES FIXTURES_REQUIRED wine)
  set_property(TEST differential_test APPEND PROPERTY ENVIRONMENT QUILLTERM_SESSIONS=500)
  set_property(TEST e2e_test differential_test windows_package APPEND PROPERTY LABELS windows)
  set_tests_properties(e2e_test differential_test windows_package PROPERTIES RESOURCE_LOCK wine_console)
endfunction()
