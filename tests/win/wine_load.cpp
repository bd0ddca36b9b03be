// Loads TAVIO32.DLL at run time, for the tests of loading itself.
//
//   tavio32_wine_load refused   exit 0 when the load is refused (another
//                               process holds the library)
//   tavio32_wine_load cycle COMn  exit 0 when twenty rounds of load, use and
//                               unload work, a port open at each unload is
//                               closed by it (a network port too), and no
//                               thread-local storage index stays taken
//   tavio32_wine_load message   exit 0 when VERSION(1) shows its message box
//                               (needs a display) and waits until it is closed
//   tavio32_wine_load program DIR  exit 0 when the keyboard, DELAY and the
//                               files are what an old program meets (DIR: scratch)
#include "wine_support.h"

#include <cstdlib>
#include <cstring>
#include <string>

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
    // (A network port: the next round's open, which the server would
    // refuse while the connection stood.)
    if (std::getenv((std::string("TAVIO32_") + port).c_str())) continue;
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

// The version message is a message box with the library's caption that
// waits until it is closed: a second thread finds it, reads its text and
// presses OK.
struct SeenBox {
  char text[256] = {};
  bool found = false;
};

BOOL CALLBACK collect_text(HWND child, LPARAM out) {
  char text[256] = {};
  GetWindowTextA(child, text, sizeof text);
  if (std::strstr(text, "Version")) std::snprintf(reinterpret_cast<SeenBox *>(out)->text, 256, "%s", text);
  return TRUE;
}

DWORD WINAPI close_box(void *arg) {
  auto *seen = static_cast<SeenBox *>(arg);
  for (int i = 0; i < 400 && !seen->found; ++i) {
    HWND box = FindWindowA("#32770", "TAVIO32.DLL V.1.22");
    if (box) {
      EnumChildWindows(box, collect_text, reinterpret_cast<LPARAM>(seen));
      seen->found = true;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    } else {
      Sleep(50);
    }
  }
  return 0;
}

int message() {
  HMODULE dll = LoadLibraryA("TAVIO32.DLL");
  CHECK(dll != nullptr);
  auto version = wt::proc<Version>(dll, "VERSION");
  if (!version) return wt::summary("tavio32_wine_load message");
  SeenBox seen;
  HANDLE thread = CreateThread(nullptr, 0, close_box, &seen, 0, nullptr);
  const double t = wt::now_ms();
  CHECK_EQ(version(1), 122); // returns when the box is closed
  const double shown = wt::now_ms() - t;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CHECK(seen.found);
  CHECK(std::strncmp(seen.text, "Version 1.22\n", 13) == 0);
  CHECK(shown > 10.0); // it waited for the box to be closed
  FreeLibrary(dll);
  return wt::summary("tavio32_wine_load message");
}

DWORD WINAPI nothing(void *) { return 0; }

int program(const std::string &dir) {
  BYTE keys[256] = {};
  keys['A'] = 0x81, keys[VK_F5] = 0x01;
  SetKeyboardState(keys);
  HMODULE dll = LoadLibraryA("TAVIO32.DLL");
  auto kbhit = wt::proc<int32_t(__stdcall *)()>(dll, "KBHIT");
  auto delay = wt::proc<uint32_t(__stdcall *)(uint32_t)>(dll, "DELAY");
  auto table = wt::proc<int32_t(__stdcall *)(char *, char *)>(dll, "TABELLESPEICHERN");
  auto save = wt::proc<int32_t(__stdcall *)(char *, char *)>(dll, "DATENSPEICHERN");
  if (!kbhit || !delay || !table || !save) return 1;
  CHECK(kbhit() == 0 && SetKeyboardState(keys));
  HANDLE thread = CreateThread(nullptr, 0, nothing, nullptr, 0, nullptr); // its start and end clear the keys
  CHECK(WaitForSingleObject(thread, INFINITE) == 0 && kbhit() == 0 && SetKeyboardState(keys) && kbhit() == -1);
  const double t = wt::now_ms();
  delay(static_cast<uint32_t>(-10));
  CHECK_TIME(wt::now_ms() - t, 0.0, 50.0);
  // Sharp s is 0xDF in code page 1252, 0xE1 in 437; a read-only name (as a literal) is left alone.
  static char buffer[30720], *ro = static_cast<char *>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
  std::string name = dir + "\\Me\xDFwerte.txt", held = dir + "\\held.dat", hidden = dir + "\\hidden.dat";
  std::snprintf(ro, 4096, "%s\\R\xDF.txt", dir.c_str());
  DWORD was = 0;
  CHECK(VirtualProtect(ro, 4096, PAGE_READONLY, &was) && table(name.data(), buffer) == 0 && table(ro, buffer) == 0);
  CHECK(name == dir + "\\Me\xE1werte.txt" && GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES);
  CHECK(ro == dir + "\\R\xDF.txt" && GetFileAttributesA((dir + "\\R\xE1.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
  // Devices, a name too long for a temporary one beside it, a file a viewer holds open.
  std::string nul = dir + "\\nul.txt", device = "NUL", longer = dir + "\\" + std::string(253 - dir.size(), 'L');
  auto saved = [&](std::string &path) { return save(path.data(), buffer) == 30720; };
  CHECK(saved(device) && saved(nul) && saved(longer) && saved(held) && saved(hidden));
  HANDLE v = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, 0);
  buffer[100] = 'w';
  CHECK(saved(held));
  CHECK(ReadFile(v, keys, 200, &was, nullptr) && was == 200 && keys[100] == 'w');
  // A read-only, hidden or system file stays as it is for both writers, as creating over it fails.
  for (DWORD protection : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    CHECK(SetFileAttributesA(hidden.c_str(), protection) && save(hidden.data(), buffer) == -1);
    CHECK_EQ(table(hidden.data(), buffer), -1);
    HANDLE h = CreateFileA(hidden.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
    CHECK(ReadFile(h, keys, 200, &was, nullptr) && was == 200 && keys[100] == 0 && CloseHandle(h));
    CHECK((GetFileAttributesA(hidden.c_str()) & protection) && SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_NORMAL));
  }
  FreeLibrary(dll);
  return wt::summary("tavio32_wine_load program");
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "refused") == 0) return refused();
  if (argc >= 3 && std::strcmp(argv[1], "cycle") == 0) return cycle(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "message") == 0) return message();
  if (argc >= 3 && std::strcmp(argv[1], "program") == 0) return program(argv[2]);
  std::fprintf(stderr, "usage: tavio32_wine_load refused | cycle COMn | message | program DIR\n");
  return 2;
}
