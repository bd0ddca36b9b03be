// Who may do what: a control token (may change things) and a watch token
// (read only), random from the system, compared in constant time. A token
// comes as `Authorization: Bearer TOKEN`, as the `token` or `watch` query
// parameter, or in the cookie set from either. While the server listens
// on a loopback address, only requests for localhost, 127.0.0.1 or [::1]
// (with the port) are taken, which keeps DNS-rebinding pages out; a POST
// from a page of another origin is refused wherever it listens.
#pragma once

#include <httplib.h>
#include <string>

namespace tavio::serve {

enum class Role { None, Watch, Control };

class Access {
public:
  Access(bool loopback, int port);
  const std::string &control_token() const { return control_; }
  const std::string &watch_token() const { return watch_; }
  void set_port(int port) { port_ = port; }

  // Checks a request; on refusal fills `res` (401 or 403 with a message)
  // and returns false.
  bool check(const httplib::Request &req, httplib::Response &res) const;
  Role role(const httplib::Request &req) const;
  // The cookie that carries the request's token on, when it came in the query.
  std::string cookie_for(const httplib::Request &req) const;

  static constexpr const char *kCookie = "tavio32";

private:
  Role role_of(const std::string &token) const;
  bool host_allowed(const std::string &host) const;
  bool origin_allowed(const httplib::Request &req) const;

  bool loopback_;
  int port_;
  std::string control_, watch_;
};

std::string random_token(); // 192 bits from getrandom(), as 48 hex digits
bool equal_in_constant_time(const std::string &a, const std::string &b);

} // namespace tavio::serve
