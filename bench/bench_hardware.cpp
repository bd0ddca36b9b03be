// bench_hardware: the cost of interface detection and of an analog read.
//
//   FINDHARD(0) with nine absent ports          target under 5 ms
//   FINDHARD(0) with one silent port             target within 3 % of six
//                                                read time-outs plus the sends'
//                                                and the probes' pauses
//   AIN against an emulated Sios                 target within 10 % of 2 ms
//
// Prints medians; the floors are computed from the library's own settings.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <time.h>
#include <vector>

#include "bench_common.h"
#include "devices.h"
#include "frame/state.h"
#include "hardware/hardware.h"
#include "interfaces.h"
#include "serial/port.h"

namespace {




} // namespace

int main() {
  using namespace tavio;
  bench::no_devices();

  // 1. Nine absent ports: every probe's open fails at once.
  {
    std::vector<double> t;
    for (int i = 0; i < 200; ++i) {
      double s = bench::now_ms();
      FINDHARD(0);
      t.push_back(bench::now_ms() - s);
    }
    double m = bench::median(t);
    std::printf("FINDHARD(0), nine absent ports:   median %8.3f ms   (target < 5 ms: %s)\n", m,
                m < 5.0 ? "met" : "missed");
  }

  // 2. One silent port on COM1: six read time-outs, eleven sends of 2 ms and
  // four pauses of 10 ms.
  {
    emu::PtyLink link(std::make_unique<emu::SilentDevice>());
    link.bind("COM1");
    const double floor = 6.0 * (READTIME + 1) + 11 * 2.0 + 4 * 10.0;
    std::vector<double> t;
    for (int i = 0; i < 7; ++i) {
      double s = bench::now_ms();
      FINDHARD(0);
      t.push_back(bench::now_ms() - s);
    }
    double m = bench::median(t);
    std::printf("FINDHARD(0), one silent port:     median %8.3f ms   floor %.0f ms   ratio %.4f   (target <= 1.03: %s)\n",
                m, floor, m / floor, m / floor <= 1.03 ? "met" : "missed");
    bench::no_devices();
  }

  // 3. AIN against an emulated Sios: one command byte (2 ms) and the answer.
  {
    emu::PtyLink link(std::make_unique<emu::SiosDevice>());
    link.bind("COM3");
    if (INITSIOS(3) != 3) {
      std::printf("AIN: the emulated Sios did not open\n");
      return 1;
    }
    for (int i = 0; i < 20; ++i) AEIN(1); // warm up
    std::vector<double> t;
    int failures = 0;
    for (int i = 0; i < 500; ++i) {
      double s = bench::now_ms();
      int32_t v = AEIN(1 + i % 4);
      t.push_back(bench::now_ms() - s);
      if (v < 0) ++failures;
    }
    CLOSE_COM();
    double m = bench::median(t);
    std::printf("AIN, emulated Sios:               median %8.3f ms   floor 2 ms     ratio %.4f   (target <= 1.10: %s)%s\n",
                m, m / 2.0, m / 2.0 <= 1.10 ? "met" : "missed", failures ? "   SOME READS FAILED" : "");
  }
  return 0;
}
