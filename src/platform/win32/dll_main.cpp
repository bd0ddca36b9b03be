// The DLL's entry point and the one-process rule on Windows.
//
// The entry point runs the closing sequence on all four notifications
// (process and thread, attach and detach): the primary port and the eight
// slots are closed. It runs under the loader lock, where nothing outside
// KERNEL32 may be called, so the keyboard and message part of the sequence
// (key state cleared, messages pumped) is marked as due and carried out by
// the next keyboard call (KBHIT, KBRESET, TASTE) before its own work: keys
// pressed before the load or before a thread started are not reported.
//
// One process at a time: a variable in a data section shared between all
// processes that map the DLL names the process that holds the library.
// Nothing else is shared: handles and the rest of the state belong to the
// process, and a shared writable section is open to every process that maps
// the DLL.
#include "frame/frame.h"
#include "platform/win32/win32_backend.h"

#include <cstring>

namespace {

volatile LONG g_holder __attribute__((section(".shr"), shared)) = 0;
// Whether this process holds the library; the detach notification that
// follows a refused load must not give back what it never took.
bool g_holds = false;

bool process_running(DWORD id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

void write_stderr(const char *text) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

} // namespace

namespace tavio::platform {

bool acquire_process_lock() {
  const LONG me = static_cast<LONG>(GetCurrentProcessId());
  LONG holder = InterlockedCompareExchange(&g_holder, me, 0);
  // A holder that ended without unloading (killed while another process
  // still mapped the DLL, so the section outlived it) holds nothing.
  if (holder != 0 && holder != me && !process_running(static_cast<DWORD>(holder)))
    holder = InterlockedCompareExchange(&g_holder, me, holder) == holder ? 0 : holder;
  g_holds = holder == 0 || holder == me;
  return g_holds;
}

void release_process_lock() {
  if (!g_holds) return;
  g_holds = false;
  InterlockedCompareExchange(&g_holder, 0, static_cast<LONG>(GetCurrentProcessId()));
}

} // namespace tavio::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  namespace pf = tavio::platform;
  if (reason == DLL_PROCESS_ATTACH && !pf::acquire_process_lock()) {
    // The refused load fails; the host hears why. The message box is the one
    // call outside KERNEL32 made here: USER32 is loaded and initialised
    // before this DLL, which imports it, and the process is about to fail
    // this load anyway.
    write_stderr("TAVIO32.DLL V.1.22: Nonshared DATA segment required\r\n");
    pf::native_backend().show_message(tavio::kCaption, "Nonshared DATA segment required");
    return FALSE;
  }
  if (reason == DLL_PROCESS_DETACH && !g_holds) return TRUE; // refused: nothing to undo
  pf::win32::set_in_entry_point(true);
  tavio::entry_notify_deferred();
  pf::win32::set_in_entry_point(false);
  if (reason == DLL_PROCESS_DETACH) {
    // At process exit (reserved not null) the system ends the timer period
    // with the process; FreeLibrary gives it back here.
    if (reserved == nullptr) pf::win32::give_back_timer_period();
    pf::release_process_lock();
  }
  return TRUE;
}
