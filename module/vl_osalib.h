/* The nine functions of Versalogic's VL_OSALib that this program calls, with C linkage
 * so that the vendor's own library, the simulated module or a test fake can stand behind
 * them, chosen when the program is linked. */
#ifndef QUILLTERM_MODULE_VL_OSALIB_H
#define QUILLTERM_MODULE_VL_OSALIB_H

/* Callers need no dllimport: the import library's thunks reach the DLL either way, and
 * the same declarations then serve a statically linked test fake. */
#if defined(_WIN32) && defined(VL_OSALIB_EXPORTS)
#define VL_OSALIB_API __declspec(dllexport)
#else
#define VL_OSALIB_API
#endif

/* The calling convention of the nine functions, as the vendor's header declares it: empty
 * for the platform's default (the only one on 64-bit Windows and Linux), or __stdcall for a
 * 32-bit DLL built with it, set through the QUILLTERM_VENDOR_CALLING_CONVENTION cache
 * variable, which also builds the stand-in DLL and the test fake to match. */
#ifndef VSL_CALL
#define VSL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The type of an analog reading as the library returns it; the one place to change
 * should the vendor's header declare it otherwise. */
typedef float VSL_AnalogReading; /* NOLINT(modernize-use-using): also a C header */

VL_OSALIB_API int VSL_CALL VSL_Open(void);
VL_OSALIB_API int VSL_CALL VSL_Close(void);
VL_OSALIB_API int VSL_CALL VSL_GetVersion(unsigned char* major, unsigned char* minor, unsigned char* revision);
VL_OSALIB_API int VSL_CALL VSL_GetADCType(void);
VL_OSALIB_API int VSL_CALL VSL_ADCSetAnalogInputRange(unsigned char channel, unsigned char range);
VL_OSALIB_API VSL_AnalogReading VSL_CALL VSL_ADCGetAnalogInput(unsigned char channel, unsigned char mode);
VL_OSALIB_API int VSL_CALL VSL_DIOSetChannelDirection(unsigned char channel, unsigned char direction);
VL_OSALIB_API int VSL_CALL VSL_DIOSetChannelLevel(unsigned char channel, unsigned char level);
VL_OSALIB_API int VSL_CALL VSL_DIOGetChannelLevel(unsigned char channel);

#ifdef __cplusplus
}
#endif

#endif
