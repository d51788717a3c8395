/* Glue for building with clang-cl against wine's C runtime headers and libc++'s headers
 * (cmake/clang-cl-wine-x86_64.cmake). libc++'s <math.h> names the C99 long double
 * functions, which wine's header leaves out: on this ABI long double is double, so each
 * is the double function under its other name. Nothing else of the standard library needs
 * glue, and a Visual Studio build uses its own headers and never sees this one. */
#include_next <math.h>

#if defined(__cplusplus) && !defined(QUILLTERM_MSVC_ABI_MATH_GLUE)
#define QUILLTERM_MSVC_ABI_MATH_GLUE
extern "C" double __cdecl erfc(double);
extern "C" double __cdecl nexttoward(double, long double);
inline float erfcf(float x) { return static_cast<float>(erfc(x)); }
inline float nexttowardf(float x, long double y) { return static_cast<float>(nexttoward(x, y)); }
#define QUILLTERM_LONG_DOUBLE_1(name) \
  inline long double name##l(long double x) { return name(static_cast<double>(x)); }
#define QUILLTERM_LONG_DOUBLE_2(name) \
  inline long double name##l(long double x, long double y) { return name(static_cast<double>(x), static_cast<double>(y)); }
QUILLTERM_LONG_DOUBLE_1(acos) QUILLTERM_LONG_DOUBLE_1(acosh) QUILLTERM_LONG_DOUBLE_1(asin) QUILLTERM_LONG_DOUBLE_1(asinh)
QUILLTERM_LONG_DOUBLE_1(atan) QUILLTERM_LONG_DOUBLE_1(atanh) QUILLTERM_LONG_DOUBLE_1(cbrt) QUILLTERM_LONG_DOUBLE_1(ceil)
QUILLTERM_LONG_DOUBLE_1(cos) QUILLTERM_LONG_DOUBLE_1(cosh) QUILLTERM_LONG_DOUBLE_1(erf) QUILLTERM_LONG_DOUBLE_1(erfc)
QUILLTERM_LONG_DOUBLE_1(exp) QUILLTERM_LONG_DOUBLE_1(exp2) QUILLTERM_LONG_DOUBLE_1(expm1) QUILLTERM_LONG_DOUBLE_1(fabs)
QUILLTERM_LONG_DOUBLE_1(floor) QUILLTERM_LONG_DOUBLE_1(lgamma) QUILLTERM_LONG_DOUBLE_1(log) QUILLTERM_LONG_DOUBLE_1(log10)
QUILLTERM_LONG_DOUBLE_1(log1p) QUILLTERM_LONG_DOUBLE_1(log2) QUILLTERM_LONG_DOUBLE_1(logb) QUILLTERM_LONG_DOUBLE_1(nearbyint)
QUILLTERM_LONG_DOUBLE_1(sin) QUILLTERM_LONG_DOUBLE_1(sinh) QUILLTERM_LONG_DOUBLE_1(sqrt) QUILLTERM_LONG_DOUBLE_1(tan)
QUILLTERM_LONG_DOUBLE_1(tanh) QUILLTERM_LONG_DOUBLE_1(tgamma)
QUILLTERM_LONG_DOUBLE_2(atan2) QUILLTERM_LONG_DOUBLE_2(fdim) QUILLTERM_LONG_DOUBLE_2(fmax) QUILLTERM_LONG_DOUBLE_2(fmin)
QUILLTERM_LONG_DOUBLE_2(fmod) QUILLTERM_LONG_DOUBLE_2(hypot) QUILLTERM_LONG_DOUBLE_2(nextafter) QUILLTERM_LONG_DOUBLE_2(pow)
QUILLTERM_LONG_DOUBLE_2(remainder)
#undef QUILLTERM_LONG_DOUBLE_1
#undef QUILLTERM_LONG_DOUBLE_2
inline long double nexttowardl(long double x, long double y) { return nexttoward(static_cast<double>(x), y); }
inline long double frexpl(long double x, int* e) { return frexp(static_cast<double>(x), e); }
inline long double ldexpl(long double x, int e) { return ldexp(static_cast<double>(x), e); }
inline long double scalbnl(long double x, int e) { return scalbn(static_cast<double>(x), e); }
inline long double scalblnl(long double x, long e) { return scalbln(static_cast<double>(x), e); }
inline int ilogbl(long double x) { return ilogb(static_cast<double>(x)); }
inline long double remquol(long double x, long double y, int* q) {
  return remquo(static_cast<double>(x), static_cast<double>(y), q);
}
inline long double modfl(long double x, long double* whole) {
  double part = 0;
  const double fraction = modf(static_cast<double>(x), &part);
  *whole = part;
  return fraction;
}
#endif
