// A device on the far end of a pseudo-terminal. The slave side is the "serial
// port" that the library opens (TAVIO32_COMn points at it); the master side
// is served by a thread that records every byte with its arrival time and
// the line settings in force, and hands it to a Device, which may answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavio::emu {

// The line settings of the slave side, as the library configured them.
struct LineState {
  uint32_t baud = 0;
  char parity = 'N';  // N, E, O, M, S
  int data_bits = 8;
  int stop_bits = 1;  // 1 or 2
};

// One byte that arrived from the library.
struct Received {
  uint8_t byte = 0;
  uint64_t t_ns = 0;     // CLOCK_MONOTONIC at arrival
  uint32_t baud = 0;     // line rate in force at arrival
  bool delivered = true; // false: the device ignored it (wrong line settings)
};

class Link {
public:
  virtual ~Link() = default;
  // Sends bytes to the library.
  virtual void reply(const uint8_t *data, size_t n) = 0;
  void reply(uint8_t byte) { reply(&byte, 1); }
  virtual LineState line() const = 0;
  // A line of text about what the device did (a program downloaded, a
  // recording started); tavio32-sim --log prints these.
  virtual void note(const std::string &text) { (void)text; }
  // CLOCK_MONOTONIC in ns.
  static uint64_t now_ns();
};

// The behaviour of an emulated device. on_byte runs on the link's thread,
// under the link's lock (PtyLink::with_device takes the same lock).
class Device {
public:
  virtual ~Device() = default;
  virtual const char *name() const = 0;
  // The line rate the device listens at; 0 takes any. Bytes that arrive at
  // another rate are garbage to a real device: they are logged but not
  // delivered, and nothing is answered.
  virtual uint32_t baud() const { return 0; }
  virtual void on_byte(uint8_t byte, Link &link) = 0;
  // Called about every 10 ms from the link's thread, for devices that act on
  // their own (recordings).
  virtual void on_tick(Link &) {}
};

class PtyLink final : public Link {
public:
  explicit PtyLink(std::unique_ptr<Device> device);
  ~PtyLink() override;
  PtyLink(const PtyLink &) = delete;
  PtyLink &operator=(const PtyLink &) = delete;

  const std::string &slave_path() const { return slave_path_; }
  // Points TAVIO32_<name> at the slave, e.g. bind("COM3").
  void bind(const char *device_name) const;

  // Everything received so far, and the bytes alone.
  std::vector<Received> received() const;
  std::vector<uint8_t> bytes() const;
  void clear();
  // Waits until at least n bytes were received; false on time-out.
  bool wait_for(size_t n, int timeout_ms) const;
  // Everything received, once nothing more has come for quiet_ms.
  std::vector<uint8_t> settled_bytes(int quiet_ms = 40) const;

  // Replies are dropped once this many bytes have been received in total
  // (fault tests: an interface that falls silent). 0 = never.
  void mute_after(size_t n);

  // Runs f with the device while the link's thread is held off.
  template <class D, class F> auto with_device(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(static_cast<D &>(*device_));
  }

  // Called for every byte received (tavio32-sim --log), on the link's thread.
  void on_receive(std::function<void(const Received &)> f);
  // Called for every note of the device, on the link's thread.
  void on_note(std::function<void(const std::string &)> f);
  std::vector<std::string> notes() const;

  // Link
  void reply(const uint8_t *data, size_t n) override;
  using Link::reply;
  LineState line() const override;
  void note(const std::string &text) override;

private:
  void run();

  std::unique_ptr<Device> device_;
  int master_ = -1;
  int slave_keep_ = -1; // keeps the slave side alive between the library's opens
  int wake_[2] = {-1, -1};
  std::string slave_path_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<Received> log_;
  size_t total_ = 0;
  size_t mute_after_ = 0;
  std::function<void(const Received &)> on_receive_;
  std::function<void(const std::string &)> on_note_;
  std::vector<std::string> notes_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

} // namespace tavio::emu
