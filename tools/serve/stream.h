// The events every browser receives (Server-Sent Events): one ring of
// ready-made event texts, written by the device thread, read by each
// client's own connection thread at its own pace. A client that falls more
// than kBacklog events behind is dropped (it reconnects and goes on); the
// device thread never waits for a client.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace tavio::serve {

class Stream {
public:
  static constexpr size_t kBacklog = 1000;      // events a client may fall behind
  static constexpr size_t kCapacity = 2 * kBacklog; // events kept, for reconnects

  // Adds `event: NAME` with `data: DATA` (one line of JSON).
  void publish(const char *name, const std::string &data);

  enum class Read { Ok, Behind, Closed };
  // Appends the events after id `after` to `out` (at most `max`), waiting up
  // to `wait` for one; `after` moves on. Behind: the client is too far
  // behind and is to be dropped.
  Read read(uint64_t &after, std::string &out, std::chrono::milliseconds wait, size_t max = 256);
  // Where a new client starts: after `last_seen` (its Last-Event-ID) when
  // that is still held and not too far behind, else at the newest event.
  uint64_t start(uint64_t last_seen) const;
  void close(); // ends every read

private:
  struct Event {
    uint64_t id;
    std::string text;
  };
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Event> ring_;
  uint64_t last_id_ = 0;
  bool closed_ = false;
};

} // namespace tavio::serve
