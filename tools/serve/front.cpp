#include "front.h"
#include "cli_system.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tavio::serve {

namespace {

constexpr std::chrono::milliseconds kLongestAcceptPause{500};
thread_local sys::socket_t current = INVALID_SOCKET;

// One request, all of it read already: httplib reads from here and writes
// to the connection. Nothing waits here for a client to send.
class ReadStream : public httplib::Stream {
public:
  ReadStream(sys::socket_t s, const std::string &buf, const std::string &ip, int port, time_t write_s,
             time_t write_us)
      : socket_(s, 0, 0, write_s, write_us), buf_(buf), ip_(ip), port_(port) {}
  bool is_readable() const override { return used_ < buf_.size(); }
  bool is_writable() const override { return socket_.is_writable(); }
  ssize_t read(char *ptr, size_t size) override {
    if (used_ >= buf_.size()) return -1;
    const size_t n = std::min(size, buf_.size() - used_);
    std::memcpy(ptr, buf_.data() + used_, n);
    used_ += n;
    return ssize_t(n);
  }
  ssize_t write(const char *ptr, size_t size) override { return socket_.write(ptr, size); }
  void get_remote_ip_and_port(std::string &ip, int &port) const override {
    ip = ip_;
    port = port_;
  }
  void get_local_ip_and_port(std::string &ip, int &port) const override { socket_.get_local_ip_and_port(ip, port); }
  sys::socket_t socket() const override { return socket_.socket(); }
  size_t used() const { return used_; }

private:
  httplib::detail::SocketStream socket_;
  const std::string &buf_;
  size_t used_ = 0;
  std::string ip_;
  int port_;
};

bool header_is(const std::string &line, const char *name) {
  const size_t n = std::strlen(name);
  if (line.size() <= n || line[n] != ':') return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  return true;
}

} // namespace

Front::Front(HttpServer &server, FrontLimits limits) : server_(server), limits_(limits) {}

Front::~Front() {
  stop();
  if (listener_ != INVALID_SOCKET) httplib::detail::close_socket(listener_);
}

sys::socket_t Front::this_connection() { return current; }

int Front::connections() const {
  std::lock_guard<std::mutex> lock(m_);
  return total_;
}

int Front::listen(const std::string &host, int port) {
  const int backlog = limits_.backlog;
  listener_ = httplib::detail::create_socket(
      host, std::string(), port, AF_UNSPEC, 0, false,
      // The system's own (on Windows an exclusive port, which no other
      // program can take over), not httplib's defaults.
      [](sys::socket_t s) { cli::listening_socket_options(std::uintptr_t(s), 64 * 1024); },
      [backlog](sys::socket_t s, addrinfo &ai) {
        return ::bind(s, ai.ai_addr, static_cast<socklen_t>(ai.ai_addrlen)) == 0 && ::listen(s, backlog) == 0;
      });
  if (listener_ == INVALID_SOCKET) return -1;
  sys::set_blocking(listener_, false);
  server_.set_listener(listener_);
  return sys::local_port(listener_);
}

Front::Verdict Front::examine(const std::string &buf) const {
  size_t end = buf.find("\r\n\r\n");
  end = end == std::string::npos ? end : end + 4;
  const size_t bare = buf.find("\n\n");
  if (bare != std::string::npos && (end == std::string::npos || bare + 2 < end)) end = bare + 2;
  if (end == std::string::npos) return buf.size() > limits_.max_header ? Verdict::TooLarge : Verdict::Incomplete;
  if (end > limits_.max_header) return Verdict::TooLarge;
  size_t length = 0;
  bool has_length = false;
  for (size_t pos = buf.find('\n') + 1; pos < end;) {
    size_t eol = buf.find('\n', pos);
    std::string line = buf.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header_is(line, "transfer-encoding")) return Verdict::NoLength;
    if (!header_is(line, "content-length")) continue;
    std::string v = line.substr(std::strlen("content-length:"));
    v.erase(0, v.find_first_not_of(" \t"));
    v.erase(v.find_last_not_of(" \t") + 1);
    if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos) return Verdict::Bad;
    const size_t n = std::stoul(v);
    if (has_length && n != length) return Verdict::Bad;
    has_length = true;
    length = n;
  }
  if (length > limits_.max_body) return Verdict::BodyTooLarge;
  return buf.size() >= end + length ? Verdict::Complete : Verdict::Incomplete;
}

// How long the front may sleep: until the nearest deadline of a waiting
// connection or the next try to accept, without end when none is due.
int Front::wait_ms(Clock::time_point now) const {
  Clock::time_point next = Clock::time_point::max();
  for (const Conn *c : waiting_) {
    if (c->fresh) return 0; // came back with its next request in it
    next = std::min(next, c->since + limits_.deadline);
  }
  if (accept_pause_.count()) next = std::min(next, accept_again_);
  int ms = -1;
  if (next != Clock::time_point::max())
    ms = next <= now ? 0
                     : int(std::min<long long>(
                           std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 24 * 3600 * 1000));
  // Without a wake-up (the system gave none), a connection given back
  // waits for the next look.
  if (!waker_.ok() && (ms < 0 || ms > 10)) ms = 10;
  return ms;
}

void Front::run() {
  for (int i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { work(); });
  std::vector<sys::Watch> set;
  while (!stopping_) {
    {
      std::lock_guard<std::mutex> lock(m_);
      for (Conn *c : back_) waiting_.push_back(c);
      back_.clear();
    }
    // The wake-up, the listener (unless taking none for now), the connections.
    const bool accepting = !accept_pause_.count() || Clock::now() >= accept_again_;
    set.clear();
    if (waker_.ok()) set.push_back({waker_.socket()});
    if (accepting) set.push_back({listener_});
    const size_t first = set.size();
    for (Conn *c : waiting_) set.push_back({c->socket});
    sys::wait_readable(set, wait_ms(Clock::now()));
    if (waker_.ok() && set[0].readable) waker_.drain();
    const bool incoming = accepting && set[first - 1].readable;
    std::vector<Conn *> still;
    const auto now = Clock::now();
    // What the buffers take (not only what they hold), bounded as it grows.
    size_t held = 0;
    for (const Conn *c : waiting_) held += c->buf.capacity();
    for (size_t i = 0; i < waiting_.size(); ++i) {
      Conn *c = waiting_[i];
      if (set[first + i].readable && c->socket != INVALID_SOCKET) {
        const bool fresh = c->buf.empty();
        const size_t before = c->buf.capacity();
        read_from(c);
        if (fresh) c->since = now; // the request's deadline runs from its first byte
        c->fresh = true;
        held += c->buf.capacity() - before;
        if (held > limits_.max_held) shed(held, still, i);
      }
      if (c->socket == INVALID_SOCKET) {
        delete c;
        continue;
      }
      const char *refusal = nullptr;
      const Verdict v = c->fresh ? examine(c->buf) : Verdict::Incomplete;
      c->fresh = false;
      switch (v) {
      case Verdict::Complete: dispatch(c); continue;
      case Verdict::TooLarge: refusal = "431 Request Header Fields Too Large"; break;
      case Verdict::BodyTooLarge: refusal = "413 Payload Too Large"; break;
      case Verdict::NoLength: refusal = "411 Length Required"; break;
      case Verdict::Bad: refusal = "400 Bad Request"; break;
      case Verdict::Incomplete:
        if (now - c->since >= limits_.deadline) refusal = c->buf.empty() ? "" : "408 Request Timeout";
        break;
      }
      if (!refusal) {
        still.push_back(c);
        continue;
      }
      if (*refusal) refuse(c, refusal);
      close(c);
      delete c;
    }
    // (Those shed after they were looked at.)
    still.erase(std::remove_if(still.begin(), still.end(),
                               [](Conn *c) {
                                 if (c->socket != INVALID_SOCKET) return false;
                                 delete c;
                                 return true;
                               }),
                still.end());
    waiting_.swap(still);
    // New ones go at the end.
    if (incoming || (accepting && accept_pause_.count())) accept_all();
  }
  cv_.notify_all();
  for (auto &t : workers_) t.join();
  workers_.clear();
  // Only this thread is left.
  for (Conn *c : back_) waiting_.push_back(c);
  for (Conn *c : jobs_) waiting_.push_back(c);
  back_.clear();
  jobs_.clear();
  for (Conn *c : waiting_) {
    close(c);
    delete c;
  }
  waiting_.clear();
}

// Over max_held in all, the largest holders are refused until it fits
// again: a legitimate request is small, and waits little. The waiting
// connections in the middle of run()'s look: those looked at (`seen`), and
// those from `next` on.
void Front::shed(size_t &held, const std::vector<Conn *> &seen, size_t next) {
  while (held > limits_.max_held) {
    Conn *largest = nullptr;
    const auto consider = [&largest](Conn *c) {
      if (c->socket != INVALID_SOCKET && (!largest || c->buf.capacity() > largest->buf.capacity())) largest = c;
    };
    for (Conn *c : seen) consider(c);
    for (size_t i = next; i < waiting_.size(); ++i) consider(waiting_[i]);
    if (!largest) return;
    held -= largest->buf.capacity();
    refuse(largest, "503 Service Unavailable");
    std::string().swap(largest->buf);
  }
}

void Front::accept_all() {
  for (int n = 0; n < 256; ++n) {
    std::string ip;
    int port = 0;
    sys::socket_t s = INVALID_SOCKET;
    const sys::Accepted a = sys::accept_connection(listener_, s, ip, port);
    if (a == sys::Accepted::Exhausted) {
      // Tried again after a pause, longer each time (the listener stays
      // readable: watching it now would spin).
      if (!accept_pause_.count())
        std::fprintf(stderr, "tavio32 serve: the system has no descriptor or memory for new connections now; "
                             "they wait until it has\n");
      accept_pause_ = std::min(std::max(accept_pause_ * 2, std::chrono::milliseconds(20)), kLongestAcceptPause);
      accept_again_ = Clock::now() + accept_pause_;
      return;
    }
    if (a == sys::Accepted::None) {
      accept_pause_ = std::chrono::milliseconds(0);
      return;
    }
    accept_pause_ = std::chrono::milliseconds(0);
    auto *c = new Conn{s, ip, port, {}, Clock::now(), false};
    bool over_address = false, over = false;
    {
      std::lock_guard<std::mutex> lock(m_);
      int &mine = per_address_[ip];
      over_address = mine >= limits_.per_address;
      over = over_address || total_ >= limits_.total;
      ++mine;
      ++total_;
    }
    if (over) {
      refuse(c, "503 Service Unavailable", over_address ? limits_.per_address_refusal : "");
      delete c;
    } else {
      waiting_.push_back(c);
    }
  }
}

void Front::read_from(Conn *c) {
  // At most a whole request's worth, and a byte more to see it is too much.
  const size_t room = limits_.max_header + limits_.max_body + 1 - std::min(c->buf.size(), limits_.max_header + limits_.max_body);
  char chunk[16384];
  const ssize_t n = httplib::detail::read_socket(c->socket, chunk, std::min(room, sizeof chunk), 0);
  if (n <= 0) {
    close(c);
    return;
  }
  c->buf.append(chunk, size_t(n));
}

void Front::dispatch(Conn *c) {
  {
    std::lock_guard<std::mutex> lock(m_);
    jobs_.push_back(c);
  }
  cv_.notify_one();
}

void Front::refuse(Conn *c, const char *status, const std::string &body) {
  // A short fixed answer, sent only if the send buffer takes it at once (a
  // client that reads none of its answers may have filled it).
  sys::set_blocking(c->socket, false);
  const std::string answer = std::string("HTTP/1.1 ") + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                             (body.empty() ? "" : "\r\nContent-Type: text/plain; charset=utf-8") +
                             "\r\nConnection: close\r\n\r\n" + body;
  httplib::detail::send_socket(c->socket, answer.data(), answer.size(), CPPHTTPLIB_SEND_FLAGS);
  close(c);
}

// Closes the connection and marks it so (the caller deletes it).
void Front::close(Conn *c) {
  if (c->socket == INVALID_SOCKET) return;
  httplib::detail::shutdown_socket(c->socket);
  httplib::detail::close_socket(c->socket);
  c->socket = INVALID_SOCKET;
  std::lock_guard<std::mutex> lock(m_);
  if (--per_address_[c->ip] <= 0) per_address_.erase(c->ip);
  --total_;
}

void Front::work() {
  const auto w = limits_.write_timeout.count();
  for (;;) {
    Conn *c = nullptr;
    {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      c = jobs_.front();
      jobs_.pop_front();
    }
    current = c->socket;
    ReadStream stream(c->socket, c->buf, c->ip, c->port, time_t(w / 1000), time_t(w % 1000 * 1000));
    const bool keep = server_.answer(stream);
    current = INVALID_SOCKET;
    c->buf.erase(0, stream.used());
    if (!keep || stopping_) {
      close(c);
      delete c;
      continue;
    }
    c->since = Clock::now();
    c->fresh = !c->buf.empty(); // the next request came with this one
    {
      std::lock_guard<std::mutex> lock(m_);
      back_.push_back(c);
    }
    waker_.wake();
  }
}

void Front::stop() {
  stopping_ = true;
  server_.set_listener(INVALID_SOCKET);
  cv_.notify_all();
  waker_.wake();
}

} // namespace tavio::serve
