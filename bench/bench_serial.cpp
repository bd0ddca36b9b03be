// Raw port throughput and receive time-out.
//
// 1. 1 MiB moved through a pty to an echoing peer in 4 KiB strings with
//    SENDSTRING/READSTRING, against the same transfer done by a plain
//    write()/read() loop on a pty pair of its own (the floor). The peer is a
//    plain thread echoing on the master side, the same for both, so that the
//    ratio shows what the library adds. Rounds alternate; medians are shown.
// 2. A 1-byte IX_READBYTE that times out with T = 100 on a silent line
//    (20 samples; the target is 101.0 to 101.5 ms).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "tavio32.h"

namespace {

constexpr size_t kTotal = 1u << 20;
constexpr size_t kChunk = 4096;
constexpr int kRounds = 7;
constexpr int kTimeoutSamples = 20;



// A pty pair whose master side is served by a thread that sends back
// everything it reads. The slave side is left for whoever opens it.
class EchoPeer {
public:
  explicit EchoPeer(bool echo = true) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slave_ = name;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (echo) thread_ = std::thread([this] { run(); });
  }
  ~EchoPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(master_);
  }
  const std::string &slave() const { return slave_; }

private:
  void run() {
    std::vector<uint8_t> buf(65536);
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      ssize_t n = ::read(master_, buf.data(), buf.size());
      if (n <= 0) { // EAGAIN, or EIO while no slave is open
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
          timespec ms{0, 1000000};
          ::nanosleep(&ms, nullptr);
        }
        continue;
      }
      size_t off = 0;
      while (off < static_cast<size_t>(n) && !stop_) {
        ssize_t w = ::write(master_, buf.data() + off, static_cast<size_t>(n) - off);
        if (w > 0) {
          off += static_cast<size_t>(w);
        } else {
          pollfd q{master_, POLLOUT, 0};
          ::poll(&q, 1, 10);
        }
      }
    }
  }

  int master_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::vector<char> payload() {
  std::vector<char> p(kChunk + 1);
  for (size_t i = 0; i < kChunk; ++i) p[i] = static_cast<char>(1 + (i * 31) % 255);
  p[kChunk] = 0;
  return p;
}

// The library: one SENDSTRING and one READSTRING per chunk. MB/s, or -1.
double library_round(const char *com) {
  char mode[64];
  std::snprintf(mode, sizeof mode, "%s:115200,N,8,1", com);
  if (OPENCOM(mode) != 1) return -1;
  std::vector<char> out = payload();
  std::vector<char> in(kChunk + 1);
  bool ok = true;
  double t0 = bench::now_ms();
  for (size_t moved = 0; moved < kTotal && ok; moved += kChunk) {
    std::memset(in.data(), ' ', kChunk);
    in[kChunk] = 0;
    ok = SENDSTRING(out.data()) == static_cast<int32_t>(kChunk) &&
         READSTRING(in.data()) == static_cast<int32_t>(kChunk) && std::memcmp(in.data(), out.data(), kChunk) == 0;
  }
  double t = bench::now_ms() - t0;
  CLOSECOM();
  return ok ? (kTotal / 1048576.0) / (t / 1e3) : -1;
}

// The floor: the same transfer with write() and poll()/read() on a raw line.
double floor_round(const std::string &slave) {
  int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t;
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  std::vector<char> out = payload();
  std::vector<char> in(kChunk + 1);
  bool ok = true;
  double t0 = bench::now_ms();
  for (size_t moved = 0; moved < kTotal && ok; moved += kChunk) {
    size_t w = 0;
    while (w < kChunk && ok) {
      ssize_t r = ::write(fd, out.data() + w, kChunk - w);
      if (r > 0) w += static_cast<size_t>(r);
      else if (r < 0 && errno != EAGAIN && errno != EINTR) ok = false;
      else {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 1000);
      }
    }
    size_t got = 0;
    while (got < kChunk && ok) {
      ssize_t r = ::read(fd, in.data() + got, kChunk - got);
      if (r > 0) {
        got += static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && errno != EAGAIN && errno != EINTR) ok = false;
      else {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) ok = false;
      }
    }
    ok = ok && std::memcmp(in.data(), out.data(), kChunk) == 0;
  }
  double t_ms = bench::now_ms() - t0;
  ::close(fd);
  return ok ? (kTotal / 1048576.0) / (t_ms / 1e3) : -1;
}

} // namespace

int main() {
  EchoPeer lib_peer, floor_peer;
  ::setenv("TAVIO32_COM9", lib_peer.slave().c_str(), 1);

  std::vector<double> lib, flo;
  for (int r = 0; r < kRounds; ++r) {
    double f = floor_round(floor_peer.slave());
    double l = library_round("COM9");
    if (f <= 0 || l <= 0) {
      std::fprintf(stderr, "transfer failed (floor %.1f, library %.1f)\n", f, l);
      return 1;
    }
    flo.push_back(f);
    lib.push_back(l);
  }
  double ml = bench::median(lib), mf = bench::median(flo);
  std::printf("string transfer, 1 MiB in %zu-byte strings through a pty echo, median of %d rounds\n", kChunk,
              kRounds);
  std::printf("  SENDSTRING/READSTRING: %8.1f MiB/s\n", ml);
  std::printf("  plain write/read:      %8.1f MiB/s\n", mf);
  std::printf("  ratio library/floor:   %8.3f (target >= 0.9)\n", ml / mf);

  // Receive time-out of a slot on a silent line.
  EchoPeer silent(false);
  ::setenv("TAVIO32_COM8", silent.slave().c_str(), 1);
  char mode[] = "COM8:19200,N,8,2";
  if (IX_OPENCOM(0, mode) == 0) {
    std::fprintf(stderr, "slot open failed\n");
    return 1;
  }
  std::vector<double> waits;
  for (int i = 0; i < kTimeoutSamples; ++i) {
    double t0 = bench::now_ms();
    int32_t b = IX_READBYTE(0);
    double t = bench::now_ms() - t0;
    if (b != -1) {
      std::fprintf(stderr, "unexpected byte %d\n", b);
      return 1;
    }
    waits.push_back(t);
  }
  IX_CLOSECOM(0);
  std::sort(waits.begin(), waits.end());
  std::printf("IX_READBYTE time-out, T = 100, %d samples\n", kTimeoutSamples);
  std::printf("  median %.3f ms, min %.3f ms, max %.3f ms (target 101.0-101.5)\n", bench::median(waits), waits.front(),
              waits.back());
  return 0;
}
