// Glue for the MSVC-ABI build with clang-cl against wine's ucrtbase.dll: the pieces that
// Microsoft's runtime libraries (vcruntime's start-up code, the C++ library) would supply,
// with the executables' start in startup.cpp. Nothing of the program's own behaviour is
// here; a Visual Studio build never compiles either file.
#include <corecrt_startup.h>
#include <stdlib.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <new>

extern "C" {

int _fltused = 0;  // the compiler's mark that floating point is used

// The compiler lists the dynamic initializers of static objects between these sections.
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCA")) _PVFV quillterm_initializers_begin = nullptr;
__declspec(allocate(".CRT$XCZ")) _PVFV quillterm_initializers_end = nullptr;

void __cdecl _initterm(_PVFV* begin, _PVFV* end);

// Destructors of static objects, run at exit (the DLLs here live as long as the process).
// The header declares it as imported, from the part of the runtime that is not there.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winconsistent-dllimport"
int __cdecl atexit(_PVFV function) { return _crt_atexit(function); }
#pragma clang diagnostic pop

BOOL WINAPI _DllMainCRTStartup(HINSTANCE /*instance*/, DWORD reason, void* /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) _initterm(&quillterm_initializers_begin + 1, &quillterm_initializers_end);
  return TRUE;
}

}  // extern "C"

void* operator new(std::size_t size) {
  void* memory = malloc(size > 0 ? size : 1);
  if (memory == nullptr) abort();
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { free(memory); }
void operator delete[](void* memory) noexcept { free(memory); }
void operator delete(void* memory, std::size_t /*size*/) noexcept { free(memory); }
void operator delete[](void* memory, std::size_t /*size*/) noexcept { free(memory); }
// Over-aligned ones, which libc++'s headers name in builds that are not optimized.
void* operator new(std::size_t size, std::align_val_t alignment) {
  void* memory = _aligned_malloc(size > 0 ? size : 1, static_cast<std::size_t>(alignment));
  if (memory == nullptr) abort();
  return memory;
}
void operator delete(void* memory, std::align_val_t /*alignment*/) noexcept { _aligned_free(memory); }
void operator delete(void* memory, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  _aligned_free(memory);
}

std::chrono::steady_clock::time_point std::chrono::steady_clock::now() noexcept {
  LARGE_INTEGER ticks, frequency;
  QueryPerformanceCounter(&ticks);
  QueryPerformanceFrequency(&frequency);
  const long long seconds = ticks.QuadPart / frequency.QuadPart;
  const long long rest = ticks.QuadPart % frequency.QuadPart;
  return time_point(duration(seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart));
}
