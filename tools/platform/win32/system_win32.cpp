// The tavio32 command's system part on Windows (tavio32.exe, cross-built
// with mingw-w64): COM ports by their device names, the console's control
// events, SetupAPI for the port list, TAVIO32.DLL beside the program.
#include "cli_system.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <bcrypt.h>
#include <devguid.h>
#include <iphlpapi.h>
#include <setupapi.h>
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <algorithm>
#include <mutex>

#include "cli_common.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

constexpr DWORD kEndWithinMs = 900; // a close or log-off event: ended by then

std::string last_error_text(DWORD code = GetLastError()) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                 nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

// The folder of tavio32.exe, with a trailing backslash.
std::wstring program_folder() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n < MAX_PATH ? n : 0);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::wstring library_path() { return program_folder() + L"TAVIO32.DLL"; }

std::string process_name(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return "";
  char path[MAX_PATH];
  DWORD n = MAX_PATH;
  std::string name;
  if (QueryFullProcessImageNameA(p, 0, path, &n)) {
    name.assign(path, n);
    name = name.substr(name.find_last_of("\\/") + 1);
  }
  CloseHandle(p);
  return name;
}

// Ctrl-C and the console's other control events.
HANDLE end_event() {
  static HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return e;
}
std::atomic<int> g_end_status{-1};
std::atomic<bool> g_waiting_server{false};

BOOL WINAPI on_control(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  int expected = -1;
  g_end_status.compare_exchange_strong(expected, interrupt ? kExitInterrupted : 0);
  g_interrupted = 1;
  SetEvent(end_event());
  if (interrupt) return TRUE;
  // Closing the window, logging off, shutting down: the system ends the
  // process when this returns. Give the program the time to close its
  // ports and complete its files, then end it with the library unloading.
  Sleep(kEndWithinMs);
  std::fflush(stdout);
  ExitProcess(UINT(g_end_status.load()));
}

void install_control_handler() {
  static std::once_flag once;
  std::call_once(once, [] { SetConsoleCtrlHandler(on_control, TRUE); });
}

// COM names through the device namespace, which reaches COM10 and above too.
HANDLE open_exclusive(const std::string &path) {
  const std::string device = _strnicmp(path.c_str(), "COM", 3) == 0 ? "\\\\.\\" + path : path;
  return CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Text and output in the bytes the program writes: no CR added before LF
// (the files and the piped CSV are the same as on Linux), UTF-8 and VT
// sequences (progress bars) on the console.
struct ConsoleSetup {
  ConsoleSetup() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      HANDLE h = GetStdHandle(which);
      DWORD mode = 0;
      if (GetConsoleMode(h, &mode)) SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
} g_console_setup;

} // namespace

const char *port_naming() {
  return N_("Ports COM1..COM9 are the system's COM ports (tavio32 ports lists them with their names);\n"
            "TAVIO32_COMn=rfc2217://HOST:PORT makes one a network port.");
}

Mapping map_port(int n) {
  const std::string var = "TAVIO32_COM" + std::to_string(n);
  char value[1024];
  SetLastError(ERROR_SUCCESS);
  const DWORD got = GetEnvironmentVariableA(var.c_str(), value, sizeof value);
  if (got > 0 && got < sizeof value) return {std::string(value, got), var, "", false};
  if (got == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) return {"", var, "", false}; // set and empty: no device
  if (n >= 1) return {"COM" + std::to_string(n), "default", "", false};
  return {"", "", "", false};
}

// A port whose device the system no longer has: on Windows nearly always a
// USB adapter that was pulled out (its COM name goes with it).
std::string removed_problem(int port, int32_t) {
  const Mapping m = map_port(port);
  if (m.path.empty() || m.path.rfind("rfc2217://", 0) == 0 || device_exists(m.path)) return "";
  // (Windows says no more than that the port went: nearly always a USB
  // adapter, but it may be another device that comes and goes.)
  return format(tr("the device of %s was removed (a USB adapter pulled out?): plug it in again"), com(port).c_str());
}

// Windows numbers USB adapters itself (the Device Manager shows and changes
// their numbers).
std::vector<UsbAdapter> usb_adapters() { return {}; }
bool number_adapters(int, const std::string &, std::vector<std::string> &, std::string &error) {
  error = tr("Windows gives USB adapters their COM numbers itself: the Device Manager shows and changes them");
  return false;
}
bool forget_number(int, std::string &error) {
  error = tr("Windows gives USB adapters their COM numbers itself: the Device Manager shows and changes them");
  return false;
}
std::string numbers_place() { return tr("the Device Manager"); }

// Windows does not tell who has a serial port open.
std::vector<Holder> holders_of(const std::string &) { return {}; }

// TAVIO32.DLL names the process that holds it in its shared section (.shr).
// The image is mapped without running its entry point (which would refuse
// this process with a message box) and given back before the real load.
Holder library_holder(bool *held) {
  *held = false;
  HMODULE image = LoadLibraryExW(library_path().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!image) return {0, ""};
  LONG holder = 0;
  auto *base = reinterpret_cast<unsigned char *>(image);
  auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
  auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
    if (std::memcmp(section[i].Name, ".shr", 5) == 0 && section[i].Misc.VirtualSize >= sizeof(LONG))
      holder = *reinterpret_cast<volatile LONG *>(base + section[i].VirtualAddress);
  FreeLibrary(image);
  if (holder == 0 || DWORD(holder) == GetCurrentProcessId()) return {0, ""};
  // A holder that has ended holds nothing (the library takes over).
  HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, DWORD(holder));
  if (!p) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return {0, ""};
    *held = true;
    return {long(holder), ""};
  }
  const bool running = WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
  CloseHandle(p);
  if (!running) return {0, ""};
  *held = true;
  std::string name = process_name(DWORD(holder));
  return {long(holder), name.empty() ? "?" : name};
}

void *open_library(std::string &error) {
  const std::wstring path = library_path();
  HMODULE m = LoadLibraryW(path.c_str());
  if (!m) error = "TAVIO32.DLL beside tavio32.exe: " + last_error_text();
  // The library closes its ports whenever a thread starts or ends in its
  // host; the command's threads (the server's, the console's control
  // events, the system's own) are not meant to.
  else DisableThreadLibraryCalls(m);
  return reinterpret_cast<void *>(m);
}

void *library_address(void *library, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool device_exists(const std::string &path) {
  HANDLE h = open_exclusive(path);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  const DWORD e = GetLastError();
  return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;
}

std::string open_problem(const std::string &port_name, const Mapping &m) {
  const std::string var = "TAVIO32_" + port_name;
  if (m.path.empty())
    return format(tr("%s has no device (%s is empty): unset %s or set it to rfc2217://HOST:PORT"), port_name.c_str(),
                  var.c_str(), var.c_str());
  if (m.path.rfind("rfc2217://", 0) == 0) return "";
  HANDLE h = open_exclusive(m.path);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return "";
  }
  const DWORD e = GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
    return format(tr("%s does not exist on this machine: plug the adapter in, or see in `tavio32 ports` (or the "
                     "Device Manager) which COM port it has"),
                  port_name.c_str());
  if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
    return format(tr("%s is in use by another program: end that program and try again"), port_name.c_str());
  return format(tr("cannot open %s: %s"), port_name.c_str(), last_error_text(e).c_str());
}

// The system's list of ports (the Device Manager's "Ports (COM & LPT)"),
// with the names the Device Manager shows; then COM names the system knows
// that are not in that list (Wine's mapped ports, for one).
std::vector<SerialDevice> serial_devices() {
  std::vector<SerialDevice> out;
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
      char port[64] = "", friendly[256] = "";
      HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
      if (key != INVALID_HANDLE_VALUE) {
        DWORD size = sizeof port - 1, type = 0;
        if (RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE *>(port), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
          port[0] = '\0';
        RegCloseKey(key);
      }
      SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE *>(friendly),
                                        sizeof friendly - 1, nullptr);
      if (std::strncmp(port, "COM", 3) == 0) out.push_back({port, friendly});
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  std::vector<char> names(65536);
  const DWORD n = QueryDosDeviceA(nullptr, names.data(), DWORD(names.size()));
  for (const char *p = names.data(); n && *p; p += std::strlen(p) + 1) {
    int number = 0;
    char rest = 0;
    if (std::sscanf(p, "COM%d%c", &number, &rest) != 1 || number < 1) continue;
    bool known = false;
    for (const SerialDevice &d : out) known = known || _stricmp(d.path.c_str(), p) == 0;
    if (!known) out.push_back({p, ""});
  }
  return out;
}

// The library's handle is the system's: the port it opened is the COM port
// that is the same file (where the system tells file identities of devices,
// as Wine does), or else the first that is now refused as in use (Windows
// opens a port once; a port another program held before counts too).
int port_of_primary() {
  if (GETCOM() <= 0) return 0;
  HANDLE mine = reinterpret_cast<HANDLE>(static_cast<intptr_t>(GETCOM()));
  BY_HANDLE_FILE_INFORMATION own{};
  const bool identified = GetFileInformationByHandle(mine, &own) != 0;
  char own_name[MAX_PATH] = "";
  const DWORD named = GetFinalPathNameByHandleA(mine, own_name, MAX_PATH, 0);
  int in_use = 0;
  for (int n = 1; n <= 9; ++n) {
    const Mapping m = map_port(n);
    if (m.path.empty() || m.path.rfind("rfc2217://", 0) == 0) continue;
    HANDLE h = open_exclusive(m.path);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      if (!in_use && (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)) in_use = n;
      continue;
    }
    BY_HANDLE_FILE_INFORMATION other{};
    char other_name[MAX_PATH] = "";
    const bool same = (identified && GetFileInformationByHandle(h, &other) &&
                       other.dwVolumeSerialNumber == own.dwVolumeSerialNumber &&
                       other.nFileIndexHigh == own.nFileIndexHigh && other.nFileIndexLow == own.nFileIndexLow) ||
                      (named > 0 && named < MAX_PATH && GetFinalPathNameByHandleA(h, other_name, MAX_PATH, 0) == named &&
                       std::strcmp(own_name, other_name) == 0);
    CloseHandle(h);
    if (same) return n;
  }
  return in_use;
}

void catch_interrupts() { install_control_handler(); }

void prepare_wait_for_end() {
  g_waiting_server = true;
  install_control_handler();
}

int wait_for_end() {
  WaitForSingleObject(end_event(), INFINITE);
  const int status = g_end_status.load();
  return status < 0 ? 0 : status;
}

bool terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

double now_ms() {
  static const double per_ms = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(f.QuadPart) / 1e3;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / per_ms;
}

bool sleep_until(double ms) {
  for (;;) {
    if (g_interrupted) return false;
    const double left = ms - now_ms();
    if (left <= 0) return true;
    // The control handler's event wakes the wait at once.
    WaitForSingleObject(end_event(), DWORD(left) + (left - double(DWORD(left)) > 0 ? 1 : 0));
  }
}

std::string write_protection(const std::string &path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return "";
  if (a & FILE_ATTRIBUTE_READONLY) return tr("the file is read-only, and it was left as it is");
  if (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
    return tr("the file is hidden or a system file, which Windows does not let a program create anew; it was left as it is");
  return "";
}

// As the library replaces files: written under a temporary name in the same
// folder and moved over the target when complete; a name that is not a
// plain file (NUL, CON) is written in place.
bool write_file(const std::string &path, const std::string &text) {
  auto write_all = [&](HANDLE h) {
    size_t done = 0;
    while (done < text.size()) {
      DWORD n = 0;
      const DWORD chunk = DWORD(std::min<size_t>(text.size() - done, 1 << 20));
      if (!WriteFile(h, text.data() + done, chunk, &n, nullptr) || n == 0) return false;
      done += n;
    }
    return true;
  };
  if (path == "-") {
    std::fflush(stdout);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  HANDLE probe = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    const DWORD type = GetFileType(probe);
    CloseHandle(probe);
    if (type != FILE_TYPE_DISK) {
      HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
      if (h == INVALID_HANDLE_VALUE) return errno = EACCES, false;
      const bool ok = write_all(h);
      CloseHandle(h);
      return ok || (errno = EIO, false);
    }
  }
  if (!write_protection(path).empty()) return errno = EACCES, false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
      return false;
    }
    const bool ok = write_all(h) && FlushFileBuffers(h);
    CloseHandle(h);
    if (ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileA(temp.c_str());
    errno = ok ? EACCES : ENOSPC;
    return false;
  }
  errno = EEXIST;
  return false;
}

std::string make_temporary_directory(std::string &error) {
  char base[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) {
    error = format(tr("cannot find the folder for temporary files: %s"), last_error_text().c_str());
    return "";
  }
  unsigned char r[8];
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (!random_bytes(r, sizeof r)) break;
    char name[32];
    std::snprintf(name, sizeof name, "tavio32-serve-%02x%02x%02x%02x%02x%02x", r[0], r[1], r[2], r[3], r[4], r[5]);
    const std::string dir = std::string(base) + name;
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  error = format(tr("cannot make a temporary directory: %s"), last_error_text().c_str());
  return "";
}

void remove_directory(const std::string &dir, const std::vector<std::string> &files) {
  for (const std::string &f : files) DeleteFileA((dir + "\\" + f).c_str());
  RemoveDirectoryA(dir.c_str());
}

bool random_bytes(unsigned char *out, size_t n) {
  return BCryptGenRandom(nullptr, out, ULONG(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

// The first IPv4 address of an adapter that is up and not the loopback.
std::string own_address() {
  ULONG size = 16384;
  std::vector<unsigned char> buffer(size);
  auto *list = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  if (GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size) == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    list = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
  }
  if (GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size) == NO_ERROR) {
    for (auto *a = list; a; a = a->Next) {
      if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
      for (auto *u = a->FirstUnicastAddress; u; u = u->Next) {
        char s[INET_ADDRSTRLEN] = "";
        auto *in = reinterpret_cast<sockaddr_in *>(u->Address.lpSockaddr);
        if (in->sin_family == AF_INET && inet_ntop(AF_INET, &in->sin_addr, s, sizeof s) && (ntohl(in->sin_addr.s_addr) >> 24) != 127)
          return s;
      }
    }
  }
  char name[256] = "";
  gethostname(name, sizeof name - 1);
  return name;
}

void listening_socket_options(std::uintptr_t socket, int send_buffer) {
  const SOCKET s = SOCKET(socket);
  const int yes = 1;
  // Windows' SO_REUSEADDR would let another program take the port.
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&yes), sizeof yes);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&send_buffer), sizeof send_buffer);
}

// Keys or piped input that have arrived, without waiting; false at the
// end of the input. (No thread: TAVIO32.DLL closes its ports whenever a
// thread starts.)
static bool take_input(HANDLE in, bool console, std::string &out) {
  if (console) {
    DWORD events = 0;
    if (!GetNumberOfConsoleInputEvents(in, &events) || events == 0) return true;
    INPUT_RECORD records[64];
    DWORD got = 0;
    if (!ReadConsoleInputA(in, records, 64, &got)) return false;
    for (DWORD i = 0; i < got; ++i) {
      const KEY_EVENT_RECORD &k = records[i].Event.KeyEvent;
      if (records[i].EventType == KEY_EVENT && k.bKeyDown && k.uChar.AsciiChar)
        out.append(k.wRepeatCount ? k.wRepeatCount : 1, k.uChar.AsciiChar);
    }
    return true;
  }
  char data[256];
  DWORD got = 0;
  DWORD available = 0;
  SetLastError(ERROR_SUCCESS);
  if (GetFileType(in) == FILE_TYPE_PIPE && PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
    if (available == 0) return true;
    if (!ReadFile(in, data, std::min<DWORD>(available, sizeof data), &got, nullptr) || got == 0) return false;
  } else if (GetLastError() == ERROR_BROKEN_PIPE) {
    return false; // the writer has gone
  } else if (!ReadFile(in, data, sizeof data, &got, nullptr) || got == 0) {
    return false;
  }
  out.append(data, got);
  return true;
}

// The port through its handle (the library's handle is the system's) and
// the input, looked at every 10 ms.
bool monitor_loop(int32_t handle, bool hex, const std::string &port, const std::string &banner) {
  HANDLE device = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  const bool console = GetConsoleMode(in, &saved) != 0;
  if (console) {
    SetConsoleMode(in, saved & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
    std::fprintf(stderr, tr("%s; Ctrl-] ends\n"), banner.c_str());
  }
  catch_interrupts();
  bool line_ok = true, input_open = true;
  double quiet_until = -1; // after the input ends: wait for answers a little
  while (!g_interrupted && line_ok) {
    std::string keys;
    if (input_open && !take_input(in, console, keys)) {
      input_open = false;
      quiet_until = now_ms() + 300;
    }
    for (char c : keys) {
      if (console && c == 0x1d) { // Ctrl-]
        g_interrupted = 1;
        break;
      }
      IX_SENDBYTE(0, static_cast<uint8_t>(c));
    }
    if (g_interrupted) break;
    // Only what has arrived: the read does not wait.
    char data[256];
    DWORD got = 0, errors = 0;
    COMSTAT status{};
    if (!ClearCommError(device, &errors, &status) ||
        (status.cbInQue > 0 && !ReadFile(device, data, std::min<DWORD>(status.cbInQue, sizeof data), &got, nullptr))) {
      line_ok = false;
      std::fprintf(stderr, "\r\ntavio32: %s\n", format(tr("%s went away"), port.c_str()).c_str());
    }
    for (DWORD k = 0; k < got; ++k) {
      if (hex) std::printf("%02x ", static_cast<uint8_t>(data[k]));
      else std::putchar(data[k]);
    }
    if (got > 0) {
      std::fflush(stdout);
      if (!input_open) quiet_until = now_ms() + 300;
    } else if (!input_open && now_ms() >= quiet_until) {
      break;
    } else if (keys.empty() && line_ok) {
      Sleep(10);
    }
  }
  if (console) SetConsoleMode(in, saved);
  return line_ok;
}

// Started by a double-click: the console was made for this program alone.
bool started_from_explorer() {
  DWORD list[2];
  return GetConsoleProcessList(list, 2) == 1;
}

void open_in_browser(const std::string &url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace tavio::cli
