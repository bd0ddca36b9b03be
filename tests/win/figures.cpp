// Timing figures of the library, built both for Windows (run under Wine)
// and for Linux, and run against the same emulators, so that the two builds
// can be set side by side:
//
//   tavio32_figures ECHO_PORT SIOS_PORT SIOS_LOG [MEASUREMENTS]
//
// 1. a 1-byte receive time-out with T = 100 on the echo port (nothing sent);
// 2. SENDBYTE + READBYTE against the echo (the 2 ms pause plus overhead);
// 3. a Sios block readout (4 channels, MEASUREMENTS, default 8000: the full
//    buffer) against its protocol floor: 2 ms after every byte sent and
//    12 ms more after each of the link reset's ten zeros. The bytes sent are
//    counted in the emulator's --log output (SIOS_LOG).
#include "tavio32.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Bytes in the emulator's log so far, and how many of the last ones were
// zeros in a row at the start of what followed `from`.
size_t logged_bytes(const std::string &path, std::vector<unsigned> *bytes = nullptr) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  FILE *f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  char line[256];
  size_t n = 0;
  while (std::fgets(line, sizeof line, f)) {
    double ms;
    unsigned byte;
    if (std::sscanf(line, "%lf ms %u", &ms, &byte) == 2) {
      ++n;
      if (bytes) bytes->push_back(byte);
    }
  }
  std::fclose(f);
  return n;
}

std::string mode(const char *port) { return std::string(port) + ":19200,N,8,2"; }

} // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tavio32_figures ECHO_PORT SIOS_PORT SIOS_LOG [MEASUREMENTS]\n");
    return 2;
  }
  const int measurements = argc > 4 ? std::atoi(argv[4]) : 8000;
  std::string echo = mode(argv[1]);
  if (OPENCOM(echo.data()) != 1) {
    std::fprintf(stderr, "tavio32_figures: cannot open %s\n", argv[1]);
    return 1;
  }
  TIMEOUT(100);
  std::vector<double> times;
  for (int i = 0; i < 15; ++i) {
    const double t = now_ms();
    READBYTE();
    times.push_back(now_ms() - t);
  }
  std::printf("  1-byte receive time-out, T = 100: median %.2f ms (target 101.0-101.5)\n", median(times));
  times.clear();
  int wrong = 0;
  for (int i = 0; i < 200; ++i) {
    const double t = now_ms();
    SENDBYTE(i & 0xFF);
    wrong += READBYTE() != (i & 0xFF);
    times.push_back(now_ms() - t);
  }
  std::printf("  SENDBYTE + READBYTE against an echo: median %.3f ms (%d wrong)\n", median(times), wrong);
  // The two halves: SENDBYTE alone, and READBYTE of a byte already waiting.
  std::vector<double> send_times, read_times;
  for (int i = 0; i < 50; ++i) {
    double t = now_ms();
    SENDBYTE(i);
    send_times.push_back(now_ms() - t);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    t = now_ms();
    READBYTE();
    read_times.push_back(now_ms() - t);
  }
  std::printf("  SENDBYTE alone: median %.3f ms; READBYTE of a waiting byte: median %.3f ms\n", median(send_times),
              median(read_times));
  CLOSECOM();

  if (INITSIOS(std::atoi(argv[2] + 3)) == 0) {
    std::fprintf(stderr, "tavio32_figures: cannot open the Sios on %s\n", argv[2]);
    return 1;
  }
  BLOCKDEF(measurements, 15, 10);
  BLOCKSTART();
  const size_t before = logged_bytes(argv[3]);
  std::vector<char> buffer(30720);
  const double t = now_ms();
  const int32_t r = BLOCKEIN(buffer.data(), 1);
  const double took = now_ms() - t;
  std::vector<unsigned> bytes;
  logged_bytes(argv[3], &bytes);
  const size_t sent = bytes.size() - before;
  size_t zeros = 0;
  while (zeros < 10 && before + zeros < bytes.size() && bytes[before + zeros] == 0) ++zeros;
  const double floor = 2.0 * static_cast<double>(sent) + (zeros == 10 ? 120.0 : 0.0);
  std::printf("  Sios readout, %d x 4 values: BLOCKEIN = %d, %zu bytes sent, %.1f ms, floor %.1f ms, ratio %.4f x\n",
              measurements, r, sent, took, floor, took / floor);
  CLOSECOM();
  return 0;
}
