// Loads TAVIO32.DLL at run time, for the tests of loading itself.
//
//   tavio32_wine_load refused   exit 0 when the load is refused (another
//                               process holds the library)
//   tavio32_wine_load cycle COMn  exit 0 when twenty rounds of load, use and
//                               unload work, a port open at each unload is
//                               closed by it, and no thread-local storage
//                               index stays taken
#include "wine_support.h"

#include <cstring>

namespace {

using Version = int32_t(__stdcall *)(int32_t);

int refused() {
  HMODULE dll = LoadLibraryA("TAVIO32.DLL");
  CHECK(dll == nullptr);
  if (dll) FreeLibrary(dll);
  return wt::summary("tavio32_wine_load refused");
}

int cycle(const char *port) {
  // The lowest free thread-local storage index before and after: a DLL
  // that took an index at load (or at first use) and never gave it back
  // would leave it taken after its unload.
  // (Measured after the first round: this program's own runtime takes one
  // for good the first time it needs it.)
  DWORD first_free = 0;
  for (int round = 0; round < 20; ++round) {
    if (round == 1) {
      first_free = TlsAlloc();
      TlsFree(first_free);
    }
    HMODULE dll = LoadLibraryA("TAVIO32.DLL");
    CHECK(dll != nullptr);
    if (!dll) break;
    auto version = wt::proc<Version>(dll, "VERSION");
    auto opencom = wt::proc<int32_t(__stdcall *)(char *)>(dll, MAKEINTRESOURCEA(1));
    auto getcom = wt::proc<int32_t(__stdcall *)()>(dll, MAKEINTRESOURCEA(45));
    CHECK(version && opencom && getcom);
    if (version) CHECK_EQ(version(0), 122);
    if (opencom && getcom) {
      char mode[32];
      std::snprintf(mode, sizeof mode, "%s:19200,N,8,2", port);
      CHECK_EQ(opencom(mode), 1);
      CHECK(getcom() > 0);
    }
    FreeLibrary(dll);
    // The port is closed by the unload: another open of it now succeeds.
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\%s", port);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(h != INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  const DWORD after = TlsAlloc();
  TlsFree(after);
  CHECK_EQ(after, first_free);
  return wt::summary("tavio32_wine_load cycle");
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "refused") == 0) return refused();
  if (argc >= 3 && std::strcmp(argv[1], "cycle") == 0) return cycle(argv[2]);
  std::fprintf(stderr, "usage: tavio32_wine_load refused | cycle COMn\n");
  return 2;
}
