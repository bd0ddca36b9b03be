// The device thread: the only thread that calls the library. It samples
// the inputs on a fixed schedule, carries out outputs, recordings and
// interface changes handed to it as tasks, publishes samples, progress and
// state changes on the stream, and keeps a snapshot of its state for the
// HTTP handlers. A device that stops answering puts it into the error state;
// it then tries to reopen the interface every second.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli_blocks.h"
#include "stream.h"

namespace tavio::serve {

using nlohmann::json;

// What to use: the library's simulation, a named interface on a port, or
// whatever FINDHARD finds.
struct Selection {
  enum Kind { Simulate, Interface, Detect } kind = Simulate;
  std::string name; // Interface
  int port = 0;
};

// A finished recording and its four files, byte for byte as `tavio32 record`
// writes them.
struct Finished {
  std::string name; // base name of the downloads
  std::string interface;
  cli::BlockFiles files;
};

// An HTTP answer made on the device thread.
struct Answer {
  int status;
  json body;
};

class Device {
public:
  Device(Selection selection, std::vector<int> channels, double every_ms, Stream &stream);
  ~Device();
  void start(); // returns after the first open
  void stop(); // ends the thread; the port is closed when it returns

  // The state as /api/status shows it (without `control`).
  json status() const;
  std::shared_ptr<const Finished> recording() const;
  double clock_ms() const; // the samples' clock

  // Tasks for the device thread; each waits for its answer.
  Answer output(const json &request); // {"dout": V} | {"aout": {...}} | {"status": V}, types checked
  Answer record(const cli::BlockPlan &plan);
  Answer select(const Selection &s);
  Answer cancel(); // the recording that runs: stopped, nothing kept

private:
  void run(std::promise<void> &opened);
  Answer call(std::function<Answer()> task);
  void run_tasks();
  bool open_selection(); // true: live
  void reopen();
  void sample();
  void record_now();
  void cancelled();
  void set_state(const std::string &state, std::optional<std::string> error, bool opened = false);
  bool busy_recording() const;
  bool stopping() const;
  void wait_until(double ms); // or a task, or the end
  json snapshot_copy() const;
  void publish_state();
  void progress(const char *phase, long done, long total);
  const cli::Interface *iface() const;
  std::string where() const;

  // Fixed at construction.
  const std::vector<int> channels_;
  const double every_ms_;
  Stream &stream_;
  const double t0_;

  // Device thread only.
  Selection selection_;
  std::optional<cli::BlockPlan> pending_;
  bool cancel_ = false;
  double next_sample_ = 0;
  double next_retry_ = 0;
  double last_progress_ = 0;
  long samples_ = 0;

  // Shared (m_).
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::packaged_task<Answer()>> tasks_;
  bool stopping_ = false;
  json snapshot_;
  std::shared_ptr<const Finished> finished_;
  std::thread thread_;

  // Device-thread copies of what the snapshot shows.
  int32_t code_ = 0;
  int port_ = 0;
  std::string state_ = "live";
  std::optional<std::string> error_;
  std::optional<int> dout_, status_out_;
  std::map<int, int> aout_;
};

} // namespace tavio::serve
