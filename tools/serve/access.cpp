#include "access.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <cstdio>
#include <stdexcept>

#include "cli_system.h"

namespace tavio::serve {

std::string random_token() {
  unsigned char bytes[24];
  if (!cli::random_bytes(bytes, sizeof bytes)) throw std::runtime_error("the system's random source failed");
  std::string s;
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    s += hex;
  }
  return s;
}

bool equal_in_constant_time(const std::string &a, const std::string &b) {
  // Tokens have a public, fixed length; the contents are compared in full.
  if (a.size() != b.size()) return false;
  volatile unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff = diff | static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

Access::Access(bool loopback, int port) : loopback_(loopback), port_(port), control_(random_token()), watch_(random_token()) {}

Role Access::role_of(const std::string &token) const {
  // Both comparisons always run.
  const bool control = equal_in_constant_time(token, control_);
  const bool watch = equal_in_constant_time(token, watch_);
  return control ? Role::Control : watch ? Role::Watch : Role::None;
}

static std::string cookie_value(const httplib::Request &req, const std::string &name) {
  const std::string cookies = req.get_header_value("Cookie");
  size_t pos = 0;
  while (pos < cookies.size()) {
    size_t end = cookies.find(';', pos);
    if (end == std::string::npos) end = cookies.size();
    std::string item = cookies.substr(pos, end - pos);
    const size_t first = item.find_first_not_of(' ');
    item = first == std::string::npos ? "" : item.substr(first);
    if (item.compare(0, name.size() + 1, name + "=") == 0) return item.substr(name.size() + 1);
    pos = end + 1;
  }
  return "";
}

Role Access::role(const httplib::Request &req) const {
  const std::string auth = req.get_header_value("Authorization");
  if (auth.rfind("Bearer ", 0) == 0) return role_of(auth.substr(7));
  for (const char *param : {"token", "watch"})
    if (req.has_param(param)) return role_of(req.get_param_value(param));
  const std::string cookie = cookie_value(req, kCookie);
  return cookie.empty() ? Role::None : role_of(cookie);
}

std::string Access::cookie_for(const httplib::Request &req) const {
  for (const char *param : {"token", "watch"})
    if (req.has_param(param) && role_of(req.get_param_value(param)) != Role::None)
      return std::string(kCookie) + "=" + req.get_param_value(param) + "; Path=/; HttpOnly; SameSite=Strict";
  return "";
}

bool Access::host_allowed(const std::string &host) const {
  if (!loopback_) return true;
  const std::string port = ":" + std::to_string(port_);
  for (const char *name : {"localhost", "127.0.0.1", "[::1]"}) {
    if (host == name + port) return true;
    if (port_ == 80 && host == name) return true;
  }
  return false;
}

bool Access::origin_allowed(const httplib::Request &req) const {
  if (req.get_header_value("Sec-Fetch-Site") == "cross-site") return false;
  if (!req.has_header("Origin")) return true; // not from a browser page
  return req.get_header_value("Origin") == "http://" + req.get_header_value("Host");
}

static void refuse(httplib::Response &res, int status, const std::string &message) {
  res.status = status;
  res.set_content(nlohmann::json{{"error", message}}.dump(), "application/json");
}

bool Access::check(const httplib::Request &req, httplib::Response &res) const {
  if (!host_allowed(req.get_header_value("Host"))) {
    refuse(res, 403, "this server answers to localhost, 127.0.0.1 and [::1] only");
    return false;
  }
  const Role r = role(req);
  if (r == Role::None) {
    refuse(res, 401, "a token is needed: open the address that tavio32 serve printed");
    return false;
  }
  if (req.method != "GET" && req.method != "HEAD") {
    if (r != Role::Control) {
      refuse(res, 403, "the watch address is read only: changes need the control address");
      return false;
    }
    if (!origin_allowed(req)) {
      refuse(res, 403, "a request from another web site is refused");
      return false;
    }
  }
  return true;
}

} // namespace tavio::serve
