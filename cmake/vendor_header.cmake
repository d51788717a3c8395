# The vendor's own header, as QUILLTERM_VENDOR_HEADER names it, held against the declarations
# that this build calls the nine functions by (module/vl_osalib.h): the linker takes a C name
# of any type, so a reading returned as double where the program takes a float, a parameter
# of another type or another calling convention would go unnoticed until the values were
# wrong. Each function's type under both declarations must be one and the same; where not,
# the compiler's message names the function and both types (GCC shows no calling convention).
if(NOT EXISTS "${QUILLTERM_VENDOR_HEADER}" OR IS_DIRECTORY "${QUILLTERM_VENDOR_HEADER}")
  message(FATAL_ERROR "QUILLTERM_VENDOR_HEADER names no file: ${QUILLTERM_VENDOR_HEADER}")
endif()
function(quillterm_check_vendor_header)
  # Ours first, renamed, so that no macro of the vendor's header can change them.
  set(renamed "")
  set(restored "")
  set(checks "")
  foreach(function VSL_Open VSL_Close VSL_GetVersion VSL_GetADCType VSL_ADCSetAnalogInputRange VSL_ADCGetAnalogInput
      VSL_DIOSetChannelDirection VSL_DIOSetChannelLevel VSL_DIOGetChannelLevel)
    string(APPEND renamed "#define ${function} ours_${function}\n")
    string(APPEND restored "#undef ${function}\n")
    string(APPEND checks "template <class Vendor, class Ours> struct ${function}_vendor_vs_ours;\n\
template <class Same> struct ${function}_vendor_vs_ours<Same, Same> {};\n\
${function}_vendor_vs_ours<decltype(${function}), decltype(ours_${function})> ${function}_the_same;\n")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/vendor_header.cpp "${renamed}#include \"module/vl_osalib.h\"\n${restored}\
extern \"C\" {\n#include \"${QUILLTERM_VENDOR_HEADER}\"\n}\n${checks}")
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  set(convention "")
  if(QUILLTERM_VENDOR_CALLING_CONVENTION)
    set(convention -DVSL_CALL=${QUILLTERM_VENDOR_CALLING_CONVENTION})
  endif()
  try_compile(QUILLTERM_VENDOR_HEADER_MATCHES ${PROJECT_BINARY_DIR}/vendor_header
    SOURCES ${PROJECT_BINARY_DIR}/vendor_header.cpp
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}" COMPILE_DEFINITIONS ${convention} OUTPUT_VARIABLE log)
  if(NOT QUILLTERM_VENDOR_HEADER_MATCHES)
    string(REGEX MATCHALL "[^\n]*(error|note)(:| C[0-9])[^\n]*" said "${log}")
    list(REMOVE_DUPLICATES said)
    string(REPLACE ";" "\n" said "${said}")
    message(FATAL_ERROR "QUILLTERM_VENDOR_HEADER ${QUILLTERM_VENDOR_HEADER} declares what this build calls \
otherwise than module/vl_osalib.h, or not at all:\n${said}")
  endif()
endfunction()
quillterm_check_vendor_header()
