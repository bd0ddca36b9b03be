#include "frame/frame.h"
#include "frame/state.h"
#include "serial/port.h"
#include "serial/port_table.h"

namespace tavio {

namespace {
MessageHandler g_message_handler = nullptr;
}

void entry_close_ports() {
  CLOSE_COM();
  for (int i = 0; i < kSlots; ++i) IX_CLOSECOM(i);
}

void entry_keyboard_part() {
  // KBHIT without starting keyboard polling: a load must not take the
  // terminal away from the host program.
  platform::backend().take_key_input(false);
  message_pump();
}

void entry_notify() {
  entry_close_ports();
  entry_keyboard_part();
}

void entry_notify_deferred() {
  entry_close_ports();
  KBDUE = true;
}

void set_message_handler(MessageHandler handler) { g_message_handler = handler; }

int32_t MES(const char *text) {
  if (text == nullptr) text = "";
  if (g_message_handler) g_message_handler(kCaption, text);
  else platform::backend().show_message(kCaption, text);
  return 1;
}

int32_t VERSION(int32_t flag) {
  if (flag != 0) MES("Version 1.22\ntavio32: serial ports and measurement interfaces");
  return kVersion;
}

} // namespace tavio
