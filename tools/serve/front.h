// The front of `tavio32 serve`: what stands between the network and
// cpp-httplib, so that a room of clients the server does not choose cannot
// hold it up. One thread accepts (with a backlog for a class arriving at
// once) and watches every connection that waits for a request. It caps the
// connections per client address and in all, reads a request's header
// block (at most kMaxHeader) and its body (Content-Length, at most kMaxBody;
// other transfer codings are refused) within a deadline, and only then
// hands the connection to a worker, which lets httplib answer that one
// request from what was read. A keep-alive connection then comes back to
// the front: idle connections cost no thread. Streams keep their worker
// while they run; the API caps them by role (api.cpp).
//
// The front sleeps while nothing happens: it waits on its sockets and on a
// wake-up that the workers (a connection given back) and stop() send, for
// as long as the nearest deadline of a waiting connection allows, or
// without end. The header and body bytes that waiting connections hold
// have a bound in all (max_held): beyond it the largest holder is refused.
// When the system has no descriptor or memory for a new connection, the
// front stops taking them for a while (longer each time, up to a second),
// and they wait in the backlog until it can.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "front_system.h"

namespace tavio::serve {

// httplib's server, answering one request on a connection it is handed.
class HttpServer : public httplib::Server {
public:
  // False: the connection is to be closed.
  bool answer(httplib::Stream &stream) {
    bool closed = false;
    return process_request(stream, false, closed, nullptr) && !closed;
  }
  // Streams run while this is a valid socket (httplib's own test).
  void set_listener(socket_t s) { svr_sock_ = s; }
};

struct FrontLimits {
  size_t max_header = 64 * 1024; // a request's line and headers
  size_t max_body = 64 * 1024;
  int per_address = 16;          // connections from one client address
  int total = 400;               // connections in all
  size_t max_held = 4 << 20;     // header and body bytes held by waiting connections, in all
  std::string per_address_refusal; // the body of the 503 for one over per_address
  int backlog = 512;
  std::chrono::milliseconds deadline{5000}; // a whole request, from its first byte; an idle connection
  std::chrono::milliseconds write_timeout{2000};
  int workers = 80;              // requests served at once (streams included)
};

class Front {
public:
  Front(HttpServer &server, FrontLimits limits = {});
  ~Front();
  // Listens on host:port (port 0: a free one); returns the port, or -1.
  int listen(const std::string &host, int port);
  void run(); // until stop()
  void stop();
  int connections() const;
  // In a worker: the connection of the request it answers.
  static sys::socket_t this_connection();

private:
  using Clock = std::chrono::steady_clock;
  struct Conn {
    sys::socket_t socket;
    std::string ip;
    int port = 0;
    std::string buf;    // what came and is not answered yet
    Clock::time_point since;
    bool fresh = false; // buf changed since it was last examined
  };
  enum class Verdict { Incomplete, Complete, TooLarge, NoLength, Bad, BodyTooLarge };
  Verdict examine(const std::string &buf) const;
  void accept_all();
  void read_from(Conn *c);
  void dispatch(Conn *c);
  void shed(size_t &held, const std::vector<Conn *> &seen, size_t next);
  int wait_ms(Clock::time_point now) const;
  void refuse(Conn *c, const char *status, const std::string &body = "");
  void close(Conn *c);
  void work();

  HttpServer &server_;
  const FrontLimits limits_;
  sys::socket_t listener_ = INVALID_SOCKET;
  std::atomic<bool> stopping_{false};
  sys::Waker waker_;

  // Front thread only.
  std::vector<Conn *> waiting_;
  Clock::time_point accept_again_{};     // while taking none
  std::chrono::milliseconds accept_pause_{0}; // 0: taking them

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Conn *> jobs_, back_;
  std::map<std::string, int> per_address_;
  int total_ = 0;
  std::vector<std::thread> workers_;
};

} // namespace tavio::serve
