# The vendor's library as QUILLTERM_VENDOR_LIBRARY names it, checked when configuring, where
# a wrong one is plain to explain, rather than by the linker: the file must be there, and it
# must hold the nine functions under the names that this build links them by. Those are the
# plain names on Linux and 64-bit Windows; on 32-bit Windows they carry a leading
# underscore and, with __stdcall, the bytes of their arguments (4 per argument).
if(NOT EXISTS "${QUILLTERM_VENDOR_LIBRARY}" OR IS_DIRECTORY "${QUILLTERM_VENDOR_LIBRARY}")
  message(FATAL_ERROR "QUILLTERM_VENDOR_LIBRARY names no file: ${QUILLTERM_VENDOR_LIBRARY}")
endif()
set(quillterm_nm "${CMAKE_NM}")
if(NOT quillterm_nm)
  find_program(QUILLTERM_NM NAMES llvm-nm-14 llvm-nm)
  set(quillterm_nm "${QUILLTERM_NM}")
endif()
if(NOT quillterm_nm)
  message(STATUS "Quillterm: the vendor library's functions are not checked, for want of nm")
  return()
endif()

# A Linux library is read for its dynamic symbols, which may carry a version (VSL_Open@@VL_1).
set(quillterm_dynamic "")
set(quillterm_version "")
if(NOT WIN32)
  set(quillterm_dynamic -D)
  set(quillterm_version "(@[^\n]*)?")
endif()
execute_process(COMMAND ${quillterm_nm} ${quillterm_dynamic} --defined-only "${QUILLTERM_VENDOR_LIBRARY}"
  OUTPUT_VARIABLE quillterm_symbols ERROR_VARIABLE quillterm_nm_error RESULT_VARIABLE quillterm_nm_failed)
if(quillterm_nm_failed)
  message(FATAL_ERROR "QUILLTERM_VENDOR_LIBRARY ${QUILLTERM_VENDOR_LIBRARY} is not a library that \
${quillterm_nm} can read: ${quillterm_nm_error}")
endif()
set(quillterm_missing "")
foreach(function VSL_Open:0 VSL_Close:0 VSL_GetVersion:3 VSL_GetADCType:0 VSL_ADCSetAnalogInputRange:2
    VSL_ADCGetAnalogInput:2 VSL_DIOSetChannelDirection:2 VSL_DIOSetChannelLevel:2 VSL_DIOGetChannelLevel:1)
  string(REGEX REPLACE ":.*" "" name ${function})
  if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(name _${name})
    if(QUILLTERM_VENDOR_CALLING_CONVENTION STREQUAL "__stdcall")
      string(REGEX REPLACE ".*:" "" arguments ${function})
      math(EXPR bytes "4 * ${arguments}")
      string(APPEND name @${bytes})
    endif()
  endif()
  if(NOT quillterm_symbols MATCHES "[ \t]${name}${quillterm_version}\n")
    list(APPEND quillterm_missing ${name})
  endif()
endforeach()
if(quillterm_missing)
  string(REPLACE ";" " " quillterm_missing "${quillterm_missing}")
  set(quillterm_hint "")
  if(WIN32)
    set(quillterm_hint " An import library with them can be made from the DLL with a .def file and dlltool -k: \
see \"An import library from the DLL\" in README.md.")
  endif()
  message(FATAL_ERROR "QUILLTERM_VENDOR_LIBRARY ${QUILLTERM_VENDOR_LIBRARY} lacks what this build links: \
${quillterm_missing}.${quillterm_hint}")
endif()
