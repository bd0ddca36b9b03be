// The HTTP API and the page: every route of `tavio32 serve`. Handlers
// never call the library: they check the request, hand it to the device
// thread and answer with what it returns or publishes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <httplib.h>

#include "access.h"
#include "device.h"
#include "stream.h"

namespace tavio::serve {

class Api {
public:
  // Event streams at once: the watchers' (a few per client address, so
  // that one student cannot take the class's; more where a class comes
  // through one address, `serve --per-address N`), and the control
  // token's, which never count against the watchers'.
  static constexpr int kMaxStreams = 64;
  static constexpr int kStreamsPerAddress = 4;
  static constexpr int kControlStreams = 8;
  // Threads the server needs: every stream, and some for short requests.
  static constexpr int kWorkers = kMaxStreams + kControlStreams + 8;

  Api(Device &device, Stream &stream, Access &access, double longest_recording_ms,
      int streams_per_address = kStreamsPerAddress)
      : device_(device), stream_(stream), access_(access), longest_ms_(longest_recording_ms),
        per_address_limit_(streams_per_address) {}
  void install(httplib::Server &server);
  int streams() const { return streams_; }
  // Where the server listens (HOST 0.0.0.0 or ::: on all addresses), for
  // the control page's watch address; set once, before it serves.
  void set_listening(const std::string &host, int port) { listen_host_ = host, listen_port_ = port; }
  // Called with the new login code when one was used.
  std::function<void(const std::string &)> on_login;

private:
  void status(const httplib::Request &req, httplib::Response &res);
  void events(const httplib::Request &req, httplib::Response &res);
  void output(const httplib::Request &req, httplib::Response &res);
  void record(const httplib::Request &req, httplib::Response &res);
  void select(const httplib::Request &req, httplib::Response &res);
  void recording(const httplib::Request &req, httplib::Response &res);
  void cancel(const httplib::Request &req, httplib::Response &res);
  void login(const httplib::Request &req, httplib::Response &res);
  enum class Taken { Yes, Full, Address };
  Taken take_stream(Role role, const std::string &address);
  void give_stream(Role role, const std::string &address);
  void file(const httplib::Request &req, httplib::Response &res, const std::string &ext);
  void page(const httplib::Request &req, httplib::Response &res);
  json listening() const;

  Device &device_;
  Stream &stream_;
  Access &access_;
  const double longest_ms_;
  const int per_address_limit_;
  std::atomic<int> streams_{0}; // the watchers'
  std::mutex m_;
  int control_streams_ = 0;                 // m_
  std::map<std::string, int> per_address_; // m_
  std::string listen_host_;
  int listen_port_ = 0;
};

} // namespace tavio::serve
