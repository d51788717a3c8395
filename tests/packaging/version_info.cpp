// Prints a file's version information as Windows reads it for the file's properties
// (Explorer's Details, PowerShell's VersionInfo): through GetFileVersionInfo and
// VerQueryValue, in the first language that the file lists.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  std::vector<char> info(argc == 2 ? GetFileVersionInfoSizeA(argv[1], nullptr) : 0);
  void* value = nullptr;
  UINT size = 0;
  if (info.empty() || !GetFileVersionInfoA(argv[1], 0, static_cast<DWORD>(info.size()), info.data()) ||
      !VerQueryValueA(info.data(), "\\", &value, &size))
    return 1;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  std::printf("version %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &size) || size < 4) return 1;
  const auto* language = static_cast<const WORD*>(value);
  for (const char* name :
       {"ProductName", "FileDescription", "FileVersion", "ProductVersion", "LegalCopyright", "OriginalFilename"}) {
    char query[96];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", language[0], language[1], name);
    const bool found = VerQueryValueA(info.data(), query, &value, &size);
    std::printf("%s: %s\n", name, found ? static_cast<const char*>(value) : "(none)");
  }
}
