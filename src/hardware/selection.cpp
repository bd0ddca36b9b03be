#include "hardware/hardware.h"
#include "frame/state.h"
// Placeholder until interface selection lands: no interface is served.
namespace tavio {
int32_t SETHARD(int32_t code) { int32_t b = HARD; HARD = code; return b; }
int32_t GETHARD() { return HARD; }
int32_t INIT(int32_t) { return 0; }
int32_t INITSIOS(int32_t) { return 0; }
int32_t INITCOMPULAB(int32_t) { return 0; }
int32_t INITZELLE(int32_t) { return 0; }
int32_t INITCCONTROL(int32_t) { return 0; }
int32_t INITCAMFACE(int32_t) { return 0; }
int32_t ZINIT(int32_t) { return 0; }
int32_t FINDHARD(int32_t) { return 0; }
int32_t DEZAUS(int32_t) { return 1; }
int32_t DEZEIN() { return 127; }
int32_t AEIN(int32_t) { return -1; }
int32_t AAUS(int32_t, int32_t) { return 0; }
int32_t ZSYSTEMRESET() { return 0; }
int32_t ZAEIN(int32_t) { return 0; }
int32_t ZUBAT() { return 0; }
int32_t ZTASTER() { return 0; }
int32_t ZSTAUS(int32_t) { return 0; }
int32_t ZSTEIN() { return 1; }
int32_t ZREGAUS(int32_t, int32_t) { return -1; }
int32_t ZREGEIN(int32_t) { return -1; }
int32_t ZRAMAUS(int32_t, int32_t) { return -1; }
int32_t ZRAMEIN(int32_t) { return -1; }
}
