/* Attributes that only some compilers know, behind macros that the others read as nothing. */
#ifndef QUILLTERM_MODULE_COMPILER_H
#define QUILLTERM_MODULE_COMPILER_H

/* Checks a printf-style function's arguments against its format (GCC and Clang). */
#if defined(__GNUC__) || defined(__clang__)
#define QUILLTERM_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QUILLTERM_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

#endif
