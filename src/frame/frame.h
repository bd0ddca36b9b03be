// Library frame: entry sequence, messages, version, timing and keyboard.
#pragma once

#include <cstdint>

namespace tavio {

inline constexpr const char *kCaption = "TAVIO32.DLL V.1.22";
inline constexpr int32_t kVersion = 122;

// The closing sequence run at load and unload: the primary port and all
// eight slots closed, the keyboard state cleared, messages pumped.
void entry_notify();
// Its first part alone, the one that is safe where a Windows DLL's entry
// point runs (under the loader lock): the primary port and the eight slots
// closed, HARD 0.
void entry_close_ports();
// The closing sequence as a Windows DLL's entry point runs it: the ports
// closed now, the keyboard part (state cleared, messages pumped) left to
// the next keyboard call, which carries it out before its own work.
void entry_notify_deferred();

// Shows text through the message handler; returns 1.
int32_t MES(const char *text);
int32_t VERSION(int32_t flag);
using MessageHandler = void (*)(const char *caption, const char *text);
void set_message_handler(MessageHandler handler);

// The millisecond timer: monotonic, 32 bits, wraps modulo 2^32.
uint32_t timer_ms();

uint32_t DELAY(uint32_t ms);
uint32_t TIMEINIT();
uint32_t TIMEREAD();
double TIME();
int32_t RC();
int32_t KBRESET();
int32_t KBHIT();
int32_t TASTE();
// The keyboard part of the closing sequence: the key state cleared (the
// protected keys kept), messages pumped once.
void entry_keyboard_part();
// The message pump, throttled to once per 10 ms of tick count; 1 ran, 0 skipped.
int32_t message_pump();

} // namespace tavio
