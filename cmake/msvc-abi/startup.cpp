// The start of an executable of the MSVC-ABI build under wine (see runtime.cpp): wine's
// own start-up code does not run the dynamic initializers of static objects.
#include <corecrt_startup.h>
#include <stdlib.h>

extern "C" {

extern _PVFV quillterm_initializers_begin;
extern _PVFV quillterm_initializers_end;
void __cdecl _initterm(_PVFV* begin, _PVFV* end);
int main(int argc, char** argv);

int __cdecl mainCRTStartup() {
  _set_app_type(_crt_console_app);
  _configure_narrow_argv(_crt_argv_unexpanded_arguments);
  _initialize_narrow_environment();
  _initterm(&quillterm_initializers_begin + 1, &quillterm_initializers_end);
  exit(main(*__p___argc(), *__p___argv()));
}

}  // extern "C"
