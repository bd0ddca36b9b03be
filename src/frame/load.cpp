// Load and unload of the shared library. Loading takes the one-process lock
// (a second process is refused and ends with status 1 before it can call
// anything) and runs the closing sequence; unloading runs it again, leaves
// the keyboard as it was found and gives the lock back.
#include <cstdlib>

#include "frame/frame.h"
#include "platform/platform.h"

namespace {

__attribute__((constructor)) void tavio32_load() {
  if (!tavio::platform::acquire_process_lock()) {
    tavio::platform::native_backend().show_message(tavio::kCaption, "Nonshared DATA segment required");
    std::_Exit(1);
  }
  tavio::entry_notify();
}

__attribute__((destructor)) void tavio32_unload() {
  tavio::entry_notify();
  tavio::platform::backend().end_key_input();
  tavio::platform::release_process_lock();
}

} // namespace
