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

Access::Access(bool loopback, int port)
    : loopback_(loopback), port_(port), control_(random_token()), watch_(random_token()), login_(random_token()) {}

std::string Access::login_code() const {
  std::lock_guard<std::mutex> lock(m_);
  return login_;
}

std::string Access::log_in(const std::string &code) {
  std::lock_guard<std::mutex> lock(m_);
  if (!equal_in_constant_time(code, login_)) return "";
  login_ = random_token();
  return control_;
}

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
  // The page of a login address may be seen (and makes the login).
  if (req.has_param("login") && equal_in_constant_time(req.get_param_value("login"), login_code()))
    return Role::Watch;
  const std::string cookie = cookie_value(req, cookie_name());
  return !cookie.empty() && equal_in_constant_time(cookie, watch_) ? Role::Watch : Role::None;
}

std::string Access::cookie_for(const httplib::Request &req) const {
  // Any valid token or code in the address: the page's files come with the
  // cookie, which holds the watch token whatever the address held.
  const bool any = req.has_param("watch") || req.has_param("token") || req.has_param("login");
  if (!any || req.has_header("Authorization") || role(req) == Role::None) return "";
  return cookie_name() + "=" + watch_ + "; Path=/; HttpOnly; SameSite=Strict";
}

bool Access::host_allowed(const std::string &host) const {
  if (!loopback_) return true;
  // NAME:PORT, or NAME alone for port 80; NAME is localhost, an address
  // of 127.0.0.0/8 as digits, or [::1]: never a name a DNS server answers.
  std::string name = host;
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    if (host.substr(colon + 1) != std::to_string(port_)) return false;
    name = host.substr(0, colon);
  } else if (port_ != 80) {
    return false;
  }
  if (name == "localhost" || name == "[::1]") return true;
  in_addr a{};
  return ::inet_pton(AF_INET, name.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
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
    refuse(res, 403, "this server answers to localhost, 127.x.x.x and [::1] only");
    return false;
  }
  // The login trades a code for the token: the code is the credential.
  if (req.path == "/api/login" && req.method == "POST") {
    if (origin_allowed(req)) return true;
    refuse(res, 403, "a request from another web site is refused");
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
