// Host services on Windows: a fine clock (QueryPerformanceCounter) for the
// timer and the waits, the calling thread's keyboard state table, its
// message queue, and message boxes.
#include "platform/win32/win32_backend.h"

#include <mmsystem.h>

#include <cstring>

namespace tavio::platform {

namespace {

// Keyboard functions neither clear nor count the mouse buttons, shift, caps
// lock, num lock and scroll lock.
bool protected_key(int vk) {
  return vk == VK_LBUTTON || vk == VK_RBUTTON || vk == VK_SHIFT || vk == VK_CAPITAL || vk == VK_NUMLOCK ||
         vk == VK_SCROLL;
}

volatile LONG g_in_entry = 0;
volatile LONG g_period_taken = 0;

// Sleep() keeps to the system's timer period, 15.6 ms unless a process asks
// for less: the library asks for 1 ms the first time it uses the timer (and
// never inside the entry point, where WINMM may not be called), and gives it
// back when it is unloaded.
void take_timer_period() {
  if (g_period_taken || g_in_entry) return;
  if (InterlockedCompareExchange(&g_period_taken, 1, 0) != 0) return;
  if (timeBeginPeriod(1) != TIMERR_NOERROR) InterlockedExchange(&g_period_taken, 0);
}

// The backend and the counter frequency are objects of the DLL itself,
// made when it is loaded and gone when it is unloaded (the entry point's
// detach runs before the runtime destroys them). No function-local statics:
// their thread-safe initialisation goes through the threads library, which
// takes a thread-local storage index that it never gives back, one more at
// every load.
Win32Backend g_backend;
const uint64_t g_frequency = [] {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f); // never fails since Windows XP
  return static_cast<uint64_t>(f.QuadPart);
}();

} // namespace

namespace win32 {
void set_in_entry_point(bool in) { InterlockedExchange(&g_in_entry, in ? 1 : 0); }
void give_back_timer_period() {
  if (InterlockedExchange(&g_period_taken, 0) != 0) timeEndPeriod(1);
}
} // namespace win32

Backend &native_backend() { return g_backend; }

uint64_t Win32Backend::now_ns() {
  take_timer_period();
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  const uint64_t c = static_cast<uint64_t>(count.QuadPart);
  return c / g_frequency * 1000000000ull + c % g_frequency * 1000000000ull / g_frequency;
}

void Win32Backend::sleep_ns(uint64_t ns) {
  take_timer_period();
  // Sleep() counts whole milliseconds of the 1 ms timer period. Letting the
  // processor go for most of a short wait matters on a busy machine: the
  // device's answer to the byte just sent needs a processor too, and with a
  // pure spin the 2 ms pause after a command byte stretched the round trip
  // to 4 ms under Wine. A wait under 0.9 ms only yields.
  const DWORD ms = static_cast<DWORD>((ns + 100000ull) / 1000000ull);
  if (ms == 0) SwitchToThread();
  else Sleep(ms);
}

bool Win32Backend::keyboard_present() {
  // Every thread has a keyboard state table.
  return true;
}

bool Win32Backend::take_key_input(bool) {
  BYTE state[256];
  if (!GetKeyboardState(state)) return false;
  bool hit = false;
  for (int vk = 0; vk < 256; ++vk) {
    if (protected_key(vk)) continue;
    if (state[vk] != 0) hit = true;
    state[vk] = 0;
  }
  SetKeyboardState(state);
  return hit;
}

void Win32Backend::end_key_input() {}

bool Win32Backend::pump_messages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void Win32Backend::show_message(const char *caption, const char *text) {
  MessageBoxA(GetActiveWindow(), text, caption, MB_ICONINFORMATION);
}

namespace {
// Whether the n bytes at p lie in committed memory that may be written.
bool writable(void *p, size_t n) {
  auto *at = static_cast<char *>(p);
  auto *end = at + n;
  while (at < end) {
    MEMORY_BASIC_INFORMATION m;
    if (VirtualQuery(at, &m, sizeof m) == 0 || m.State != MEM_COMMIT || (m.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
        !(m.Protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)))
      return false;
    at = static_cast<char *>(m.BaseAddress) + m.RegionSize;
  }
  return true;
}
} // namespace

std::string Win32Backend::table_file_name(char *path) {
  // The same buffer for source and result is allowed.
  if (writable(path, std::strlen(path) + 1)) {
    CharToOemA(path, path);
    return path;
  }
  std::string name(path);
  CharToOemA(name.data(), name.data());
  return name;
}

} // namespace tavio::platform
