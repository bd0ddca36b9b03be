// Who may do what: a control token (may change things) and a watch token
// (read only), random from the system, compared in constant time. A token
// comes as `Authorization: Bearer TOKEN` or as the `token` or `watch` query
// parameter; the browser's cookie (named with the port) carries the watch
// token only, so the control token never travels to another service of the
// host. The printed control address carries a one-time login code instead
// of the token: the page trades it for the token (POST /api/login) and
// keeps that in its tab, so that the browser's history holds no token.
// While the server listens on a loopback address, only requests for
// localhost, 127.0.0.0/8 or [::1] (with the port) are taken, which keeps
// DNS-rebinding pages out; a POST from a page of another origin is refused
// wherever it listens.
#pragma once

#include <httplib.h>
#include <mutex>
#include <string>

namespace tavio::serve {

enum class Role { None, Watch, Control };

class Access {
public:
  Access(bool loopback, int port);
  const std::string &control_token() const { return control_; }
  const std::string &watch_token() const { return watch_; }
  std::string login_code() const;
  // The control token for the current login code, which is then used up
  // (a new one takes its place); empty for any other code.
  std::string log_in(const std::string &code);
  void set_port(int port) { port_ = port; }

  // Checks a request; on refusal fills `res` (401 or 403 with a message)
  // and returns false.
  bool check(const httplib::Request &req, httplib::Response &res) const;
  Role role(const httplib::Request &req) const;
  // The watch cookie, for a page opened with the watch token or a login code.
  std::string cookie_for(const httplib::Request &req) const;
  std::string cookie_name() const { return "tavio32_" + std::to_string(port_); }

private:
  Role role_of(const std::string &token) const;
  bool host_allowed(const std::string &host) const;
  bool origin_allowed(const httplib::Request &req) const;

  bool loopback_;
  int port_;
  std::string control_, watch_;
  mutable std::mutex m_;
  std::string login_; // m_
};

std::string random_token(); // 192 bits from getrandom(), as 48 hex digits
bool equal_in_constant_time(const std::string &a, const std::string &b);

} // namespace tavio::serve
