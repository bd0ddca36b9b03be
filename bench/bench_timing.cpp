// Timing of the foundation: DELAY overshoot, the receive time-out, and the
// request/answer round trip against an echo device on a pseudo-terminal.
#include <cstdio>
#include <memory>

#include "bench_common.h"
#include "devices.h"
#include "frame/frame.h"
#include "tavio32.h"

int main() {
  bench::no_devices();
  std::printf("DELAY(n): overshoot past n ms\n");
  std::printf("  %6s %8s %12s %12s %12s\n", "n", "runs", "median ms", "p99 ms", "max ms");
  const struct {
    uint32_t n;
    int runs;
  } delays[] = {{1, 500}, {2, 500}, {10, 200}, {100, 20}};
  for (const auto &d : delays) {
    std::vector<double> over;
    for (int i = 0; i < d.runs; ++i) {
      double t = bench::now_ms();
      DELAY(d.n);
      over.push_back(bench::now_ms() - t - d.n);
    }
    std::printf("  %6u %8d %12.4f %12.4f %12.4f\n", d.n, d.runs, bench::median(over), bench::percentile(over, 0.99),
                bench::percentile(over, 1.0));
  }

  {
    tavio::emu::PtyLink silent(std::make_unique<tavio::emu::SilentDevice>());
    silent.bind("COM3");
    char mode[] = "COM3:19200,N,8,2";
    if (OPENCOM(mode) != 1) return 1;
    std::vector<double> waits;
    for (int i = 0; i < 20; ++i) {
      double t = bench::now_ms();
      READBYTE();
      waits.push_back(bench::now_ms() - t);
    }
    std::printf("READBYTE time-out, T = 100: median %.3f ms, p99 %.3f ms (target 101.0-101.5)\n", bench::median(waits),
                bench::percentile(waits, 0.99));
    CLOSECOM();
  }

  {
    tavio::emu::PtyLink echo(std::make_unique<tavio::emu::EchoDevice>());
    echo.bind("COM3");
    char mode[] = "COM3:19200,N,8,2";
    if (OPENCOM(mode) != 1) return 1;
    std::vector<double> trips, sends;
    for (int i = 0; i < 500; ++i) {
      double t = bench::now_ms();
      SENDBYTE(i);
      double s = bench::now_ms();
      READBYTE();
      double e = bench::now_ms();
      sends.push_back(s - t);
      trips.push_back(e - t);
    }
    double m = bench::median(trips);
    std::printf("SENDBYTE+READBYTE round trip (echo): median %.3f ms, p99 %.3f ms; over the 2 ms pause: %.3f ms "
                "(target <= 0.3)\n",
                m, bench::percentile(trips, 0.99), m - 2.0);
    std::printf("SENDBYTE alone: median %.4f ms\n", bench::median(sends));
    CLOSECOM();
  }
  return 0;
}
