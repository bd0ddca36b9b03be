#include "api.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <optional>

#include "addresses.h"
#include "assets.h"
#include "cli_common.h"
#include "front.h"

namespace tavio::serve {

namespace {

using httplib::Request;
using httplib::Response;

constexpr auto kKeepAlive = std::chrono::seconds(15); // a comment on a quiet stream
constexpr auto kBehind = std::chrono::seconds(3);     // a stream client may lag that long
constexpr size_t kSlack = 8 * 1024;                   // bytes on their way that are not a lag
constexpr auto kRotate = std::chrono::seconds(30);    // a stream's longest run
constexpr auto kLate = std::chrono::milliseconds(1);  // wake just after a time that is due, not before
const auto kNever = std::chrono::steady_clock::time_point::max();

// A request the API refuses before anything reaches the interface.
struct BadRequest {
  std::string message;
};

void reply(Response &res, int status, const json &body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}
void reply(Response &res, const Answer &a) { reply(res, a.status, a.body); }

json body_of(const Request &req) {
  json j = json::parse(req.body, nullptr, false);
  if (j.is_discarded()) throw BadRequest{"the body is not JSON"};
  if (!j.is_object()) throw BadRequest{"the body is a JSON object"};
  return j;
}

void only(const json &j, std::initializer_list<const char *> names) {
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char *n : names) known = known || it.key() == n;
    if (!known) throw BadRequest{"unknown field " + it.key()};
  }
}

int integer(const json &j, const char *name, int lo, int hi) {
  if (!j.contains(name)) throw BadRequest{std::string(name) + " is missing"};
  const json &v = j[name];
  if (!v.is_number_integer()) throw BadRequest{std::string(name) + " is a whole number"};
  const long long n = v.get<long long>();
  if (n < lo || n > hi) throw BadRequest{std::string(name) + " is " + std::to_string(lo) + " to " + std::to_string(hi)};
  return int(n);
}

template <class F> void guarded(Response &res, F f) {
  try {
    f();
  } catch (const BadRequest &e) {
    reply(res, 400, {{"error", e.message}});
  }
}

} // namespace

void Api::status(const Request &req, Response &res) {
  json s = device_.status();
  s["control"] = access_.role(req) == Role::Control;
  s["t_ms"] = device_.clock_ms();
  s["watchers"] = streams_.load();
  if (s["control"] == true) {
    s["listening"] = listening();
    s["watch_token"] = access_.watch_token(); // for the watch address the control page hands out
  }
  reply(res, 200, s);
}

// The addresses the server listens on: on all of them, the machine's own
// as they are now (a laptop joins and leaves networks while it serves).
json Api::listening() const {
  const bool all = listen_host_ == "0.0.0.0" || listen_host_ == "::";
  json addresses = json::array();
  const std::vector<LocalAddress> own = local_addresses();
  for (const LocalAddress &a : own)
    if (all || a.address == listen_host_) addresses.push_back({{"address", a.address}, {"interface", a.interface}});
  if (!all && addresses.empty()) addresses.push_back({{"address", listen_host_}, {"interface", ""}});
  return {{"host", listen_host_}, {"port", listen_port_}, {"all", all}, {"addresses", addresses}};
}

// A client that has not taken what was sent to it for kBehind is dropped
// (it reconnects and goes on from its last event) before its buffers fill:
// what it has not read is what the system has not sent yet, and what waits
// in its own receive buffer, as the shrinking of the window it offers shows
// (Linux 6.2 on). TCP shows no shrinking while the window is below its
// clamp: a client whose buffer holds more than twice its window (it never
// read, with the default buffer) is dropped once the window shrinks, or
// by the write time-out.
template <class Client> bool behind(Client &c, std::chrono::steady_clock::time_point now) {
  size_t unacked = 0;
  long window = -1;
  if (!sys::send_state(Front::this_connection(), unacked, window)) return false;
  c.widest = std::max(c.widest, window);
  const size_t unread = unacked + size_t(window >= 0 ? c.widest - window : 0);
  if (unread <= kSlack) {
    c.behind_since.reset();
    return false;
  }
  if (!c.behind_since) c.behind_since = now;
  return now - *c.behind_since > kBehind;
}

Api::Taken Api::take_stream(Role role, const std::string &address) {
  std::lock_guard<std::mutex> lock(m_);
  if (role == Role::Control) {
    if (control_streams_ >= kControlStreams) return Taken::Full;
    ++control_streams_;
    return Taken::Yes;
  }
  int &mine = per_address_[address];
  const Taken t = mine >= per_address_limit_ ? Taken::Address : streams_ >= kMaxStreams ? Taken::Full : Taken::Yes;
  if (t != Taken::Yes) {
    if (!mine) per_address_.erase(address);
    return t;
  }
  ++mine;
  ++streams_;
  return t;
}

void Api::give_stream(Role role, const std::string &address) {
  std::lock_guard<std::mutex> lock(m_);
  if (role == Role::Control) {
    --control_streams_;
    return;
  }
  if (--per_address_[address] <= 0) per_address_.erase(address);
  --streams_;
}

void Api::events(const Request &req, Response &res) {
  const Role role = access_.role(req);
  const std::string address = req.remote_addr;
  const Taken taken = take_stream(role, address);
  if (taken == Taken::Address) {
    // A class behind one address (a school network's NAT, a proxy) meets
    // this first: the teacher is told what to change.
    reply(res, 503, {{"error", "too many watchers from this address (" + std::to_string(per_address_limit_) +
                                   " at most): for a class that comes through one address, start serve with "
                                   "--per-address N, N the number of its browsers"}});
    return;
  }
  if (taken == Taken::Full) {
    reply(res, 503, {{"error", "too many browsers are watching: close a tab and try again"}});
    return;
  }
  uint64_t last_seen = 0;
  try {
    last_seen = std::stoull(req.get_header_value("Last-Event-ID"));
  } catch (...) {
  }
  struct Client {
    uint64_t after = 0;
    bool first = true;
    std::chrono::steady_clock::time_point last_write = std::chrono::steady_clock::now();
    const std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    long widest = 0; // the peer's receive window at its widest
    std::optional<std::chrono::steady_clock::time_point> behind_since;
  };
  auto client = std::make_shared<Client>();
  client->after = stream_.start(last_seen);
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, client](size_t, httplib::DataSink &sink) {
        std::string out;
        if (client->first) {
          client->first = false;
          // Reconnect after 1 s; then the state as it is now.
          out = "retry: 1000\n\nevent: state\ndata: " + device_.status().dump() + "\n\n";
        }
        // Waits for an event, or until the keep-alive comment, the rotation
        // or the time a lagging client is dropped is due.
        const auto due = std::min({client->last_write + kKeepAlive, client->since + kRotate,
                                   client->behind_since ? *client->behind_since + kBehind : kNever});
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        const Stream::Read r =
            stream_.read(client->after, out, std::max(wait, std::chrono::milliseconds(1)) + kLate);
        if (r != Stream::Read::Ok) return false; // closing, or too far behind: dropped
        const auto now = std::chrono::steady_clock::now();
        if (behind(*client, now)) return false;
        if (now - client->since > kRotate) {
          // Every stream ends after kRotate, the page reconnecting at once
          // where it was: one that never read this is gone, whatever its
          // buffers hid.
          out += "retry: 100\n\nevent: rotate\ndata: {}\n\n";
          sink.write(out.data(), out.size());
          return false;
        }
        if (out.empty() && now - client->last_write > kKeepAlive) out = ": still here\n\n";
        if (out.empty()) return true;
        client->last_write = now;
        return sink.write(out.data(), out.size());
      },
      [this, role, address](bool) { give_stream(role, address); });
}

void Api::output(const Request &req, Response &res) {
  guarded(res, [&] {
    json j = body_of(req);
    only(j, {"dout", "aout", "status"});
    if (j.size() != 1) throw BadRequest{"give one of dout, aout and status"};
    if (j.contains("dout")) integer(j, "dout", 0, 255);
    if (j.contains("status")) integer(j, "status", 0, 255);
    if (j.contains("aout")) {
      const json &a = j["aout"];
      if (!a.is_object()) throw BadRequest{"aout is {\"channel\": C, \"value\": V}"};
      only(a, {"channel", "value"});
      integer(a, "channel", 1, 4);
      integer(a, "value", 0, 255);
    }
    reply(res, device_.output(j));
  });
}

void Api::record(const Request &req, Response &res) {
  guarded(res, [&] {
    json j = body_of(req);
    only(j, {"measurements", "channels", "interval_ms", "blocks", "trigger"});
    cli::BlockPlan p;
    p.measurements = integer(j, "measurements", 1, 65535);
    if (!j.contains("channels") || !j["channels"].is_array() || j["channels"].empty())
      throw BadRequest{"channels is a list such as [1, 3]"};
    for (const json &c : j["channels"]) {
      if (!c.is_number_integer() || c.get<long long>() < 1 || c.get<long long>() > 4)
        throw BadRequest{"channels are 1 to 4"};
      p.channels.push_back(c.get<int>());
    }
    p.interval_ms = integer(j, "interval_ms", 1, 65535);
    p.blocks = j.contains("blocks") ? integer(j, "blocks", 1, 255) : 1;
    if (j.contains("trigger") && !j["trigger"].is_null()) {
      const json &t = j["trigger"];
      if (!t.is_object()) throw BadRequest{"trigger is null or {\"mode\": M, \"value\": V}"};
      only(t, {"mode", "value"});
      p.trigger_mode = integer(t, "mode", 1, 6);
      p.trigger_value = integer(t, "value", 0, 255);
    }
    if (p.total_ms() > longest_ms_) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the recording would take %.1f h; the longest this server takes is %.1f h (--longest-recording)",
                    p.total_ms() / 3.6e6, longest_ms_ / 3.6e6);
      throw BadRequest{text};
    }
    reply(res, device_.record(p));
  });
}

void Api::select(const Request &req, Response &res) {
  guarded(res, [&] {
    json j = body_of(req);
    only(j, {"interface", "port", "detect", "simulate"});
    Selection s;
    if (j.contains("interface")) {
      if (!j["interface"].is_string()) throw BadRequest{"interface is a name such as \"sios\""};
      const cli::Interface *i = cli::find_interface(j["interface"].get<std::string>());
      if (!i) throw BadRequest{"interfaces are sios, compulab, zelle, rsbox, camface and ccontrol"};
      s = {Selection::Interface, i->name, integer(j, "port", 0, 9)};
      const std::string problem = cli::port_problem(*i, s.port);
      if (!problem.empty()) throw BadRequest{problem};
    } else if (j.contains("detect") && j["detect"] == true && j.size() == 1) {
      s.kind = Selection::Detect;
    } else if (j.contains("simulate") && j["simulate"] == true && j.size() == 1) {
      s.kind = Selection::Simulate;
    } else {
      throw BadRequest{"give {\"interface\": NAME, \"port\": N}, {\"detect\": true} or {\"simulate\": true}"};
    }
    Answer a = device_.select(s);
    if (a.status == 200) a.body["control"] = true;
    reply(res, a);
  });
}

void Api::recording(const Request &, Response &res) {
  auto f = device_.recording();
  if (!f) {
    reply(res, 404, {{"error", "nothing has been recorded yet"}});
    return;
  }
  const cli::Recording &r = f->files.recording;
  json times = json::array(), blocks = json::array(), values = json::object();
  for (size_t i = 0; i < r.rows.size(); ++i) {
    times.push_back(r.time_ms(i));
    blocks.push_back(r.block_of(i) + 1);
  }
  for (size_t c = 0; c < r.channels.size(); ++c) {
    json v = json::array();
    for (const auto &row : r.rows) v.push_back(row[c]);
    values[std::to_string(r.channels[c])] = v;
  }
  reply(res, 200,
        {{"name", f->name}, {"interface", f->interface}, {"measurements", r.measurements}, {"channels", r.channels},
         {"interval_ms", r.interval_ms}, {"blocks", r.blocks}, {"times_ms", times}, {"block", blocks},
         {"values", values}});
}

void Api::cancel(const Request &, Response &res) { reply(res, device_.cancel()); }

void Api::login(const Request &req, Response &res) {
  guarded(res, [&] {
    json j = body_of(req);
    only(j, {"code"});
    if (!j.contains("code") || !j["code"].is_string()) throw BadRequest{"code is the login code of the address"};
    const std::string token = access_.log_in(j["code"].get<std::string>());
    if (token.empty()) {
      reply(res, 401, {{"error", "this control address has been used: open the new one that tavio32 serve printed"}});
      return;
    }
    if (on_login) on_login(access_.login_code());
    reply(res, 200, {{"token", token}});
  });
}

void Api::file(const Request &, Response &res, const std::string &ext) {
  auto f = device_.recording();
  if (!f) {
    reply(res, 404, {{"error", "nothing has been recorded yet"}});
    return;
  }
  const cli::BlockFiles &b = f->files;
  const std::string &bytes = ext == "dat" ? b.dat : ext == "txt" ? b.txt : ext == "csv" ? b.csv : b.svg;
  const char *type = ext == "dat"   ? "application/octet-stream"
                     : ext == "txt" ? "text/plain"
                     : ext == "csv" ? "text/csv"
                                    : "image/svg+xml";
  res.set_header("Content-Disposition", "attachment; filename=\"" + f->name + "." + ext + "\"");
  res.set_header("Cache-Control", "no-store");
  res.set_content(bytes, type);
}

namespace {

// Whether an Accept-Encoding header takes gzip: named (or as x-gzip), or
// else "*", with a quality above zero.
bool accepts_gzip(const std::string &header) {
  int gzip = -1, any = -1; // -1 not named, 0 refused, 1 taken
  for (size_t at = 0; at <= header.size();) {
    size_t end = header.find(',', at);
    if (end == std::string::npos) end = header.size();
    std::string item = header.substr(at, end - at);
    at = end + 1;
    std::transform(item.begin(), item.end(), item.begin(), [](unsigned char c) { return std::tolower(c); });
    item.erase(std::remove_if(item.begin(), item.end(), [](unsigned char c) { return std::isspace(c); }), item.end());
    const size_t semi = item.find(';'), q = item.find(";q=");
    const std::string coding = item.substr(0, semi);
    // q=0, q=0.0, q=0.000: refused; any other value takes it.
    const int taken = q != std::string::npos && item.find_first_not_of("0.", q + 3) >= item.find(';', q + 3) ? 0 : 1;
    if (coding == "gzip" || coding == "x-gzip") gzip = taken;
    else if (coding == "*") any = taken;
  }
  return gzip >= 0 ? gzip == 1 : any == 1;
}

} // namespace

void Api::page(const Request &req, Response &res) {
  std::string path = req.path == "/" ? "/index.html" : req.path;
  // A watcher's page is without the teacher's parts from its first paint on:
  // an index.html of its own.
  if (path == "/index.html" && access_.role(req) != Role::Control) path += "#watch";
  const Asset *a = req.path.find('#') == std::string::npos ? find_asset(path) : nullptr;
  if (!a) {
    reply(res, 404, {{"error", "no such page"}});
    return;
  }
  const std::string cookie = access_.cookie_for(req);
  if (!cookie.empty()) res.set_header("Set-Cookie", cookie);
  res.set_header("Cache-Control", "no-cache");
  // Only these files are sent compressed: the same for everyone, they hold
  // no secret that a compressed length could give away (the API's answers,
  // with tokens and measurements, never are).
  res.set_header("Vary", "Accept-Encoding");
  if (a->gzip && accepts_gzip(req.get_header_value("Accept-Encoding"))) {
    res.set_header("Content-Encoding", "gzip");
    res.set_content(reinterpret_cast<const char *>(a->gzip), a->gzip_size, a->type);
  } else {
    res.set_content(reinterpret_cast<const char *>(a->data), a->size, a->type);
  }
}

void Api::install(httplib::Server &svr) {
  svr.set_pre_routing_handler([this](const Request &req, Response &res) {
    // Headers for every answer: nothing from elsewhere, no framing, no referrer.
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
                   "frame-ancestors 'none'; form-action 'self'; base-uri 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    return access_.check(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                   : httplib::Server::HandlerResponse::Handled;
  });
  svr.Get("/api/status", [this](const Request &q, Response &r) { status(q, r); });
  svr.Get("/api/stream", [this](const Request &q, Response &r) { events(q, r); });
  svr.Post("/api/output", [this](const Request &q, Response &r) { output(q, r); });
  svr.Post("/api/record", [this](const Request &q, Response &r) { record(q, r); });
  svr.Post("/api/select", [this](const Request &q, Response &r) { select(q, r); });
  svr.Get("/api/recording", [this](const Request &q, Response &r) { recording(q, r); });
  svr.Delete("/api/recording", [this](const Request &q, Response &r) { cancel(q, r); });
  svr.Post("/api/login", [this](const Request &q, Response &r) { login(q, r); });
  for (const char *ext : {"dat", "txt", "csv", "svg"})
    svr.Get(std::string("/api/recording.") + ext, [this, ext](const Request &q, Response &r) { file(q, r, ext); });
  svr.Get("/[^/]*", [this](const Request &q, Response &r) { page(q, r); });
  svr.set_error_handler([](const Request &, Response &res) {
    if (res.body.empty()) reply(res, res.status, {{"error", res.status == 404 ? "no such page" : "the request failed"}});
  });
}

} // namespace tavio::serve
