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

private:
  void status(const httplib::Request &req, httplib::Response &res);
  void events(const httplib::Request &req, httplib::Response &res);
  void output(const httplib::Request &req, httplib::Response &res);
  void record(const httplib::Request &req, httplib::Response &res);
  void select(const httplib::Request &req, httplib::Response &res);
  void recording(const httplib::Request &req, httplib::Response &res);
  void file(const httplib::Request &req, httplib::Response &res, const std::string &ext);
  void page(const httplib::Request &req, httplib::Response &res);

  Device &device_;
  Stream &stream_;
  const Access &access_;
  std::atomic<int> streams_{0};
};

} // namespace tavio::serve
