// The HTTP API and the page: every route of `tavio32 serve`. Handlers
// never call the library: they check the request, hand it to the device
// thread and answer with what it returns or publishes.
#pragma once

#include <atomic>
#include <httplib.h>

#include "access.h"
#include "device.h"
#include "stream.h"

namespace tavio::serve {

class Api {
public:
  static constexpr int kMaxStreams = 64; // event streams at once; the server has threads for more

  Api(Device &device, Stream &stream, const Access &access) : device_(device), stream_(stream), access_(access) {}
  void install(httplib::Server &server);
  int streams() const { return streams_; }
  // Where the server listens (HOST 0.0.0.0 or ::: on all addresses), for
  // the control page's watch address; set once, before it serves.
  void set_listening(const std::string &host, int port) { listen_host_ = host, listen_port_ = port; }

private:
  void status(const httplib::Request &req, httplib::Response &res);
  void events(const httplib::Request &req, httplib::Response &res);
  void output(const httplib::Request &req, httplib::Response &res);
  void record(const httplib::Request &req, httplib::Response &res);
  void select(const httplib::Request &req, httplib::Response &res);
  void recording(const httplib::Request &req, httplib::Response &res);
  void file(const httplib::Request &req, httplib::Response &res, const std::string &ext);
  void page(const httplib::Request &req, httplib::Response &res);
  json listening() const;

  Device &device_;
  Stream &stream_;
  const Access &access_;
  std::atomic<int> streams_{0};
  std::string listen_host_;
  int listen_port_ = 0;
};

} // namespace tavio::serve
