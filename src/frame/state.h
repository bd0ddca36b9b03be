// The library's global state: every variable that lives from load to unload,
// in one place. There is no per-caller context; the library expects one
// calling thread at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace tavio {

namespace net {
class NetworkPort;
}

using platform::Handle;

inline constexpr int kSlots = 8;

extern Handle COM;            // primary port; 0 none, -1 after a failed open
extern int32_t HARD;          // interface code; 0 none (simulation)
extern int32_t READLENGTH;    // bytes that STRREAD reads
extern int32_t READTIME;      // read time-out of the primary port, ms
extern Handle DMCOM[kSlots];  // port-table handles; 0 empty, -1 failed open
extern int32_t DMOUT[kSlots]; // port-table read time-outs, ms
extern int32_t DMLEN[kSlots]; // bytes that IX_STRREAD reads, per slot
extern uint32_t T0;           // stopwatch origin, timer ms
extern uint16_t PUMPSTAMP;    // low 16 bits of the tick count at the last pump
// The entry point's keyboard part is due: the next keyboard call carries it
// out first. Set by the Windows DLL's entry point, which runs on any thread
// and may not call USER32 itself.
extern std::atomic<bool> KBDUE;

// Network ports open now (the primary port and the slots, with room to
// spare): each one's connection handle and protocol state. A handle found
// here is a network port; any other is a local line of the platform's.
struct NetworkEntry {
  Handle handle = 0;
  net::NetworkPort *port = nullptr; // null: a free entry
};
inline constexpr int kNetworkEntries = 2 * (kSlots + 1);
extern NetworkEntry NETPORTS[kNetworkEntries];
extern platform::Lock NETLOCK; // guards NETPORTS

// Readout progress: called by BLOCKEIN after each data byte with the bytes
// read and expected; returning 0 stops the readout. Null: none (the default).
using ReadoutProgress = int (*)(int32_t done, int32_t expected, void *context);
extern ReadoutProgress READPROGRESS;
extern void *READPROGRESSCONTEXT;

// Puts every variable back to its value at load (tests use it between cases;
// the library itself initialises statically).
void reset_state_for_tests();

} // namespace tavio
