#include "frame/state.h"

namespace tavio {

Handle COM = 0;
int32_t HARD = 0;
int32_t READLENGTH = 14;
int32_t READTIME = 100;
Handle DMCOM[kSlots] = {0, 0, 0, 0, 0, 0, 0, 0};
int32_t DMOUT[kSlots] = {100, 100, 100, 100, 100, 100, 100, 100};
int32_t DMLEN[kSlots] = {14, 14, 14, 14, 14, 14, 14, 14};
uint32_t T0 = 0;
uint16_t PUMPSTAMP = 0;
std::atomic<bool> KBDUE{false};
ReadoutProgress READPROGRESS = nullptr;
void *READPROGRESSCONTEXT = nullptr;
NetworkEntry NETPORTS[kNetworkEntries];
platform::Lock NETLOCK;

void reset_state_for_tests() {
  COM = 0;
  HARD = 0;
  READLENGTH = 14;
  READTIME = 100;
  for (int i = 0; i < kSlots; ++i) {
    DMCOM[i] = 0;
    DMOUT[i] = 100;
    DMLEN[i] = 14;
  }
  T0 = 0;
  PUMPSTAMP = 0;
  KBDUE = false;
  READPROGRESS = nullptr;
  READPROGRESSCONTEXT = nullptr;
}

} // namespace tavio
