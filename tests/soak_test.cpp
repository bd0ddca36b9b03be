// Soak: the primary port and all eight slots open at once on nine
// pseudo-terminals, each streaming in both directions at the same time for
// 30 seconds (TAVIO32_SOAK_SECONDS sets another length). Every byte arrives
// once and in order (the streams are sequence-numbered records), and closing
// everything gives back every descriptor and every device.
//
// The far ends are plain pseudo-terminal masters served by one thread here:
// the emulator links keep a log of every byte, which a stream this long
// would swell to hundreds of megabytes.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace tavio::test {
namespace {

constexpr int kPorts = 9;                   // the primary port and slots 0..7
constexpr size_t kRecord = 6;               // bytes per sequence-numbered record
constexpr size_t kChunk = 1000;             // bytes per library transfer
constexpr double kDrainMs = 20000;          // the test fails rather than hang

double soak_ms() {
  const char *s = std::getenv("TAVIO32_SOAK_SECONDS");
  return (s != nullptr && *s != 0 ? std::atof(s) : 30.0) * 1000.0;
}

// Record n of port p: the port, the record number in four base-255 digits
// and a check byte, every byte 1..255 so that the stream is a valid text for
// the string functions.
void make_record(int port, uint32_t n, uint8_t *out) {
  out[0] = static_cast<uint8_t>(port + 1);
  unsigned sum = out[0];
  for (int i = 1; i <= 4; ++i) {
    out[i] = static_cast<uint8_t>(n % 255 + 1);
    sum += out[i];
    n /= 255;
  }
  out[5] = static_cast<uint8_t>(sum % 255 + 1);
}

// An endless stream of records, produced on demand; taken() may be read
// from another thread.
class Source {
public:
  explicit Source(int port) : port_(port) {}
  // The next n bytes not yet taken, without taking them.
  void peek(uint8_t *out, size_t n) const {
    size_t pos = taken_;
    for (size_t k = 0; k < n; ++k, ++pos) {
      uint8_t rec[kRecord];
      make_record(port_, static_cast<uint32_t>(pos / kRecord), rec);
      out[k] = rec[pos % kRecord];
    }
  }
  void take(size_t n) { taken_ += n; }
  size_t taken() const { return taken_; }

private:
  int port_;
  std::atomic<size_t> taken_{0};
};

// Checks a received stream record by record; remembers the first fault.
class Check {
public:
  explicit Check(int port) : port_(port) {}
  void feed(const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      record_[received_ % kRecord] = p[i];
      ++received_;
      if (received_ % kRecord != 0) continue;
      uint8_t want[kRecord];
      make_record(port_, next_, want);
      if (std::memcmp(record_, want, kRecord) != 0) fault("record " + std::to_string(next_) + " lost, doubled or altered");
      ++next_;
    }
  }
  size_t received() const { return received_; }
  const std::string &error() const { return error_; }

private:
  void fault(const std::string &what) {
    if (error_.empty()) error_ = "port " + std::to_string(port_) + ", byte " + std::to_string(received_) + ": " + what;
  }
  int port_;
  uint8_t record_[kRecord] = {};
  uint32_t next_ = 0;
  std::atomic<size_t> received_{0};
  std::string error_;
};

// Open descriptors of this process.
int open_descriptors() {
  int n = 0;
  DIR *d = ::opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent *e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1; // the directory's own descriptor
}

// The far end of one port: a pseudo-terminal master and its two streams.
struct Peer {
  explicit Peer(int port) : to_library(port), from_library(port) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) return;
    path = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  ~Peer() {
    if (master >= 0) ::close(master);
  }
  int master = -1;
  std::string path;
  Source to_library;
  Check from_library;
};

// Serves every peer until stop is set: writes what the library has room for
// (until sending is cleared), reads what it sent.
void serve(std::vector<Peer *> peers, std::atomic<bool> &sending, std::atomic<bool> &stop) {
  std::vector<pollfd> fds(peers.size());
  uint8_t buf[8192];
  while (!stop) {
    const bool send = sending;
    for (size_t i = 0; i < peers.size(); ++i) fds[i] = {peers[i]->master, short(send ? POLLIN | POLLOUT : POLLIN), 0};
    if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
    for (size_t i = 0; i < peers.size(); ++i) {
      Peer &p = *peers[i];
      if (fds[i].revents & POLLIN) {
        ssize_t n = ::read(p.master, buf, sizeof buf);
        if (n > 0) p.from_library.feed(buf, static_cast<size_t>(n));
      }
      if (send && (fds[i].revents & POLLOUT)) {
        p.to_library.peek(buf, sizeof buf);
        ssize_t w = ::write(p.master, buf, sizeof buf);
        if (w > 0) p.to_library.take(static_cast<size_t>(w));
      }
    }
  }
}

class Soak : public LibraryTest {};

TEST_F(Soak, NinePortsStreamBothWaysWithoutLossAndCloseCleanly) {
  std::vector<std::unique_ptr<Peer>> peers;
  std::vector<Peer *> raw;
  for (int p = 0; p < kPorts; ++p) {
    peers.push_back(std::make_unique<Peer>(p));
    ASSERT_FALSE(peers.back()->path.empty()) << "no pseudo-terminal";
    std::string var = "TAVIO32_COM" + std::to_string(p + 1);
    ::setenv(var.c_str(), peers.back()->path.c_str(), 1);
    raw.push_back(peers.back().get());
  }
  const int descriptors_before = open_descriptors();

  // The primary port on COM1, slot i on COM(i + 2); short time-outs so that
  // a transfer that finds nothing to do gives the turn to the next port.
  std::string primary = mode(1, "115200,N,8,1");
  ASSERT_EQ(OPENCOM(primary.data()), 1);
  ASSERT_EQ(TIMEOUT(5), 100);
  for (int slot = 0; slot < 8; ++slot) {
    std::string m = mode(slot + 2, "115200,N,8,1");
    ASSERT_GT(IX_OPENCOM(slot, m.data()), 0) << m;
    ASSERT_EQ(IX_TIMEOUT(slot, 5), 100);
  }

  std::atomic<bool> sending{true}, stop{false};
  std::thread far_ends(serve, raw, std::ref(sending), std::ref(stop));
  std::deque<Source> to_device; // (the counters are atomic, so not movable)
  std::deque<Check> from_device;
  for (int p = 0; p < kPorts; ++p) {
    to_device.emplace_back(p);
    from_device.emplace_back(p);
  }

  // One transfer each way on each port in turn, for the soak time.
  auto send = [&](int p) {
    char text[kChunk + 1] = {};
    to_device[p].peek(reinterpret_cast<uint8_t *>(text), kChunk);
    const int32_t sent = p == 0 ? SENDSTRING(text) : IX_SENDSTRING(p - 1, text);
    ASSERT_GE(sent, 0);
    to_device[p].take(static_cast<size_t>(sent));
  };
  auto receive = [&](int p, size_t want) {
    std::vector<char> buf(want + 1, 'x');
    buf[want] = 0;
    const int32_t got = p == 0 ? READSTRING(buf.data()) : IX_READSTRING(p - 1, buf.data());
    ASSERT_GE(got, 0);
    from_device[p].feed(reinterpret_cast<const uint8_t *>(buf.data()), static_cast<size_t>(got));
  };
  const double start = now_ms(), length = soak_ms();
  while (now_ms() - start < length) {
    for (int p = 0; p < kPorts; ++p) {
      send(p);
      receive(p, kChunk);
    }
  }
  const double streaming_ms = now_ms() - start;

  // Then the far ends stop sending, and both sides take what is on its way.
  sending = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(50)); // past the far ends' last write
  const double drain = now_ms();
  bool drained = false;
  while (!drained && now_ms() - drain < kDrainMs) {
    drained = true;
    for (int p = 0; p < kPorts; ++p) {
      const size_t left = raw[p]->to_library.taken() - from_device[p].received();
      if (left > 0) receive(p, std::min(kChunk, left));
      drained = drained && left == 0 && raw[p]->from_library.received() == to_device[p].taken();
    }
  }
  stop = true;
  far_ends.join();

  size_t moved = 0;
  for (int p = 0; p < kPorts; ++p) {
    SCOPED_TRACE("port " + std::to_string(p));
    EXPECT_EQ(from_device[p].error(), "");
    EXPECT_EQ(raw[p]->from_library.error(), "");
    EXPECT_EQ(from_device[p].received(), raw[p]->to_library.taken());
    EXPECT_EQ(raw[p]->from_library.received(), to_device[p].taken());
    EXPECT_GT(from_device[p].received(), 0u);
    EXPECT_GT(raw[p]->from_library.received(), 0u);
    moved += from_device[p].received() + raw[p]->from_library.received();
  }
  std::printf("soak: %zu bytes moved over %d ports both ways in %.1f s\n", moved, kPorts,
              streaming_ms / 1000.0);

  CLOSECOM();
  for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(IX_CLOSECOM(slot), 0);
  EXPECT_EQ(open_descriptors(), descriptors_before);
  // Every device is free again: each one opens once more, and closing gives
  // its descriptor back as well.
  for (int p = 0; p < kPorts; ++p) {
    std::string m = mode(p + 1, "9600,N,8,1");
    EXPECT_EQ(OPENCOM(m.data()), 1) << m;
    CLOSECOM();
  }
  EXPECT_EQ(open_descriptors(), descriptors_before);
}

} // namespace
} // namespace tavio::test
