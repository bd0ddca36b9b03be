#include "serial/rfc2217.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace tavio::net {

namespace pf = platform;

namespace {
constexpr uint64_t kNsPerMs = 1000000ull;
constexpr uint64_t kForever = pf::kNetForever;
// Data that arrives while nobody reads is kept up to this much; beyond it
// the connection is not read until the caller takes some (the server then
// holds back, as a full receive buffer holds back a local line).
constexpr size_t kMaxBuffered = 16u << 20;

uint64_t after_ms(uint64_t now, uint64_t ms) { return now + ms * kNsPerMs; }
} // namespace

// --- the decoder

TelnetDecoder::Event TelnetDecoder::feed(uint8_t b) {
  switch (state_) {
  case State::Data:
    if (b == kIac) {
      state_ = State::Iac;
      return Event::None;
    }
    value_ = b;
    return Event::Data;
  case State::Iac:
    state_ = State::Data;
    switch (b) {
    case kIac: value_ = b; return Event::Data; // a doubled 255 is one data byte
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      verb_ = b;
      state_ = State::Option;
      return Event::None;
    case kSb:
      sb_size_ = 0;
      sb_truncated_ = false;
      state_ = State::Sb;
      return Event::None;
    default: // NOP, GA, a stray SE and the rest: nothing to do, no data
      value_ = b;
      return Event::Command;
    }
  case State::Option:
    state_ = State::Data;
    value_ = b;
    switch (verb_) {
    case kWill: return Event::Will;
    case kWont: return Event::Wont;
    case kDo: return Event::Do;
    default: return Event::Dont;
    }
  case State::Sb:
    if (b == kIac) {
      state_ = State::SbIac;
      return Event::None;
    }
    break;
  case State::SbIac:
    if (b == kSe) {
      state_ = State::Data;
      return Event::Subnegotiation;
    }
    if (b != kIac) {
      // A command inside a subnegotiation: the subnegotiation was never
      // ended. It is dropped and the command taken as it stands.
      state_ = State::Iac;
      return feed(b);
    }
    state_ = State::Sb;
    break;
  }
  // A payload byte of a subnegotiation.
  if (sb_size_ < kMaxSubnegotiation) sb_[sb_size_++] = b;
  else sb_truncated_ = true;
  return Event::None;
}

void escape_data(const uint8_t *data, size_t n, std::vector<uint8_t> &out) {
  for (size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

void com_port_command(uint8_t command, const uint8_t *payload, size_t n, std::vector<uint8_t> &out) {
  const uint8_t head[] = {kIac, kSb, kOptComPort};
  out.insert(out.end(), head, head + 3);
  escape_data(&command, 1, out);
  escape_data(payload, n, out);
  out.push_back(kIac);
  out.push_back(kSe);
}

// --- addresses

namespace {
constexpr char kScheme[] = "rfc2217://";
constexpr size_t kSchemeLen = sizeof kScheme - 1;
} // namespace

bool is_network_path(const char *path) {
  if (path == nullptr) return false;
  for (size_t i = 0; i < kSchemeLen; ++i)
    if (path[i] == '\0' || std::tolower(static_cast<unsigned char>(path[i])) != kScheme[i]) return false;
  return true;
}

bool parse_address(const char *path, std::string &host, uint16_t &port) {
  if (!is_network_path(path)) return false;
  std::string rest(path + kSchemeLen);
  size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    host = rest.substr(0, colon);
    if (host.find(':') != std::string::npos) return false; // IPv6 needs brackets
  }
  if (host.empty() || host.size() > 253) return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']') return false;
  std::string digits = rest.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  unsigned long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// --- the port

int32_t NetworkPort::connect(pf::Backend &b, const char *path) {
  std::string host;
  uint16_t port = 0;
  if (!parse_address(path, host, port)) return -1;
  return b.net_connect(host.c_str(), port, kConnectMs);
}

NetworkPort::NetworkPort(pf::Backend &b, int32_t connection) : b_(b), s_(connection) {}

bool NetworkPort::start() {
  pf::Locked hold(lock_);
  // Asked for at once: binary both ways, no go-ahead, and the com port
  // option. Answers to these settle the option without a reply, so that no
  // option is ever acknowledged twice.
  const uint8_t offer[] = {kIac, kWill, kOptBinary, kIac, kDo, kOptBinary, kIac, kWill, kOptSga,
                           kIac, kDo,   kOptSga,    kIac, kWill, kOptComPort};
  std::vector<uint8_t> out(offer, offer + sizeof offer);
  us_[kOptBinary] = us_[kOptSga] = us_[kOptComPort] = Q::WantYes;
  them_[kOptBinary] = them_[kOptSga] = Q::WantYes;
  // The modem lines are reported whenever they change.
  const uint8_t all = 0xFF;
  com_port_command(kSetModemstateMask, &all, 1, out);
  uint64_t deadline = after_ms(now(), kSettingsWaitMs);
  if (!send_all(out, deadline, nullptr)) return false;
  // A rate of 0 asks for the one in effect.
  const uint8_t query[4] = {0, 0, 0, 0};
  if (!request(kSetBaudrate, query, 4, deadline) || !await_reply(kSetBaudrate, deadline)) return false;
  const uint8_t *a = answer_[kSetBaudrate];
  uint32_t rate = uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3];
  if (pf::is_supported_baud(rate)) config_.baud = rate;
  return true;
}

NetworkPort::~NetworkPort() { close(); }

void NetworkPort::close() {
  pf::Locked hold(lock_);
  if (s_ < 0) return;
  // Ends our side, then reads until the server has ended its own: a server
  // serving one client at a time takes the next one only after that.
  b_.net_shutdown(s_);
  uint64_t deadline = after_ms(now(), kCloseWaitMs);
  uint8_t scrap[4096];
  while (!closed_) {
    int ev = b_.net_wait(s_, false, deadline);
    if (ev <= 0) break;
    int32_t r = b_.net_receive(s_, scrap, sizeof scrap);
    if (r == 0 || r == -1) closed_ = true;
  }
  b_.net_close(s_);
  s_ = -1;
  closed_ = true;
}

bool NetworkPort::send_all(const std::vector<uint8_t> &out, uint64_t deadline, size_t *sent) {
  size_t done = 0;
  bool ok = true;
  // Answers to the server's negotiation that come up meanwhile wait until
  // this stream is out whole: they must not land inside an escape or a
  // subnegotiation of it.
  bool outer = !sending_;
  sending_ = true;
  while (done < out.size()) {
    if (closed_) {
      ok = false;
      break;
    }
    int32_t r = b_.net_send(s_, out.data() + done, static_cast<uint32_t>(out.size() - done));
    if (r < 0) {
      closed_ = true;
      ok = false;
      break;
    }
    done += static_cast<size_t>(r);
    if (done == out.size()) break;
    // The server is not taking more: read what it sends meanwhile, so that
    // an echo of our own data cannot stop both sides.
    bool room = data_.size() < kMaxBuffered;
    int ev = b_.net_wait(s_, true, deadline);
    if (ev == 0 || ev < 0) {
      ok = false;
      break;
    }
    if ((ev & pf::kNetReadable) && room && !take_input(0)) {
      ok = false;
      break;
    }
    if (!(ev & pf::kNetWritable) && !room) b_.sleep_ns(kNsPerMs); // wait for the reader
  }
  if (outer) sending_ = false;
  if (sent) *sent = done;
  if (ok && outer && !pending_out_.empty()) {
    std::vector<uint8_t> answers;
    answers.swap(pending_out_);
    ok = send_all(answers, deadline, nullptr);
  }
  return ok;
}

bool NetworkPort::take_input(uint64_t deadline) {
  if (closed_) return false;
  uint8_t raw[8192];
  bool first = true;
  while (true) {
    int32_t r = b_.net_receive(s_, raw, sizeof raw);
    if (r > 0) {
      decode(raw, static_cast<size_t>(r));
      first = false;
      if (!pending_out_.empty() && !sending_) {
        std::vector<uint8_t> out;
        out.swap(pending_out_);
        if (!send_all(out, after_ms(now(), kSettingsWaitMs), nullptr)) return false;
      }
      if (static_cast<size_t>(r) < sizeof raw || data_.size() >= kMaxBuffered) return true;
      continue;
    }
    if (r == 0 || r == -1) {
      closed_ = true;
      return false;
    }
    // Nothing waiting.
    if (!first || deadline == 0) return true;
    int ev = b_.net_wait(s_, false, deadline);
    if (ev < 0) {
      closed_ = true;
      return false;
    }
    if (ev == 0) return true;
    first = false; // readable: the next receive has something (or the end)
  }
}

void NetworkPort::decode(const uint8_t *raw, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    TelnetDecoder::Event e = decoder_.feed(raw[i]);
    switch (e) {
    case TelnetDecoder::Event::Data:
      // Before the line settings were taken, the bytes are the server's own
      // words ("Port already in use"), not the device's.
      if (settings_done_) {
        data_.push_back(decoder_.value());
        last_data_ns_ = now();
      }
      break;
    case TelnetDecoder::Event::Will:
    case TelnetDecoder::Event::Wont:
    case TelnetDecoder::Event::Do:
    case TelnetDecoder::Event::Dont: on_option(e, decoder_.value()); break;
    case TelnetDecoder::Event::Subnegotiation: on_subnegotiation(); break;
    default: break;
    }
  }
}

void NetworkPort::on_option(TelnetDecoder::Event verb, uint8_t option) {
  bool wanted = option == kOptBinary || option == kOptSga || option == kOptComPort;
  bool theirs = verb == TelnetDecoder::Event::Will || verb == TelnetDecoder::Event::Wont;
  bool yes = verb == TelnetDecoder::Event::Will || verb == TelnetDecoder::Event::Do;
  Q &q = theirs ? them_[option] : us_[option];
  uint8_t reply_yes = theirs ? kDo : kWill;
  uint8_t reply_no = theirs ? kDont : kWont;
  // Only a change is answered: an option already in the asked state is
  // never acknowledged again, or the two sides would answer each other for
  // ever.
  if (yes) {
    if (q == Q::Yes) return;
    if (q == Q::WantYes) {
      q = Q::Yes;
      return;
    }
    if (wanted) q = Q::Yes;
    const uint8_t answer[] = {kIac, wanted ? reply_yes : reply_no, option};
    pending_out_.insert(pending_out_.end(), answer, answer + 3);
  } else {
    if (q == Q::No) return;
    bool was_yes = q == Q::Yes;
    q = Q::No;
    if (was_yes) {
      const uint8_t answer[] = {kIac, reply_no, option};
      pending_out_.insert(pending_out_.end(), answer, answer + 3);
    }
  }
}

size_t NetworkPort::reply_key(uint8_t command, uint8_t value) {
  if (command != kSetControl) return command < 16 ? command : 15;
  if (value <= 3) return 16;                      // outbound flow control
  if (value <= 6) return 17;                      // break
  if (value <= 9) return 18;                      // DTR
  if (value <= 12) return 19;                     // RTS
  if (value <= 16) return 20;                     // inbound flow control
  return 21;
}

void NetworkPort::on_subnegotiation() {
  size_t n = decoder_.payload_size();
  const uint8_t *p = decoder_.payload();
  if (decoder_.truncated() || n < 2 || p[0] != kOptComPort) return;
  uint8_t code = p[1];
  if (code < kServerOffset) return; // a server's command addressed to a client: none to take
  uint8_t command = static_cast<uint8_t>(code - kServerOffset);
  const uint8_t *value = p + 2;
  size_t size = n - 2;
  if (command == kNotifyModemstate) {
    if (size >= 1) modem_state_ = value[0];
    return;
  }
  if (command == kNotifyLinestate || command == 0 || command > kPurgeData || size == 0) return;
  size_t key = reply_key(command, value[0]);
  answered_[key] = true;
  std::memset(answer_[key], 0, sizeof answer_[key]);
  std::memcpy(answer_[key], value, size < 4 ? size : 4);
}

bool NetworkPort::request(uint8_t command, const uint8_t *payload, size_t n, uint64_t deadline) {
  answered_[reply_key(command, n > 0 ? payload[0] : 0)] = false;
  std::vector<uint8_t> out;
  com_port_command(command, payload, n, out);
  return send_all(out, deadline, nullptr);
}

bool NetworkPort::await_reply(size_t key, uint64_t deadline) {
  while (!answered_[key]) {
    if (!take_input(deadline)) return false;
    if (!answered_[key] && now() >= deadline) return false;
  }
  return true;
}

void NetworkPort::get_config(pf::LineConfig &c) {
  pf::Locked hold(lock_);
  c = config_;
}

bool NetworkPort::set_config(const pf::LineConfig &c) {
  pf::Locked hold(lock_);
  if (!pf::is_supported_baud(c.baud) || c.data_bits < 5 || c.data_bits > 8) return false;
  uint8_t baud[4] = {static_cast<uint8_t>(c.baud >> 24), static_cast<uint8_t>(c.baud >> 16),
                     static_cast<uint8_t>(c.baud >> 8), static_cast<uint8_t>(c.baud)};
  uint8_t size = c.data_bits;
  uint8_t parity = 1;
  switch (c.parity) {
  case pf::Parity::None: parity = 1; break;
  case pf::Parity::Odd: parity = 2; break;
  case pf::Parity::Even: parity = 3; break;
  case pf::Parity::Mark: parity = 4; break;
  case pf::Parity::Space: parity = 5; break;
  }
  // 1.5 stop bits exist only with 5 data bits, where servers on termios
  // (ser2net, pyserial) know them as "2" and leave the value 3 unanswered.
  uint8_t stop = c.stop_bits == pf::StopBits::One ? 1 : 2;
  uint8_t flow = c.cts_handshake ? kControlHardware : c.xon_xoff ? kControlXonXoff : kControlNoFlow;
  struct Item {
    uint8_t command;
    const uint8_t *value;
    size_t n;
  } items[] = {{kSetBaudrate, baud, 4}, {kSetDatasize, &size, 1}, {kSetParity, &parity, 1},
               {kSetStopsize, &stop, 1}, {kSetControl, &flow, 1}};
  uint64_t deadline = after_ms(now(), kSettingsWaitMs);
  // All requests go out together; the answers may come in any order.
  for (const Item &i : items)
    if (!request(i.command, i.value, i.n, deadline)) return false;
  for (const Item &i : items) {
    size_t key = reply_key(i.command, i.value[0]);
    if (!await_reply(key, deadline)) return false;
    // The answer carries the value in effect: another one was refused.
    if (std::memcmp(answer_[key], i.value, i.n) != 0) return false;
  }
  config_ = c;
  settings_done_ = true;
  return true;
}

void NetworkPort::set_timeouts(const pf::Timeouts &t) {
  pf::Locked hold(lock_);
  timeouts_ = t;
}

bool NetworkPort::write(const void *buffer, uint32_t n, uint32_t *done) {
  pf::Locked hold(lock_);
  *done = 0;
  const auto *in = static_cast<const uint8_t *>(buffer);
  uint64_t total_ms = uint64_t(n) * timeouts_.write_total_multiplier + timeouts_.write_total_constant;
  uint64_t deadline = total_ms == 0 ? kForever : after_ms(now(), total_ms);
  std::vector<uint8_t> out;
  out.reserve(n + n / 64 + 8);
  escape_data(in, n, out);
  size_t sent = 0;
  bool ok = send_all(out, deadline, &sent);
  if (ok) {
    *done = n;
    return true;
  }
  // Count the data bytes whose escaped form went out whole.
  size_t pos = 0;
  uint32_t count = 0;
  while (count < n) {
    size_t width = in[count] == kIac ? 2 : 1;
    if (pos + width > sent) break;
    pos += width;
    ++count;
  }
  *done = count;
  return false;
}

bool NetworkPort::read(void *buffer, uint32_t n, uint32_t *done) {
  pf::Locked hold(lock_);
  *done = 0;
  if (n == 0) return true;
  auto *out = static_cast<uint8_t *>(buffer);
  const pf::Timeouts t = timeouts_;
  uint64_t start = now();
  uint64_t total_ms = uint64_t(n) * t.read_total_multiplier + t.read_total_constant;
  uint64_t total_deadline = total_ms == 0 ? kForever : after_ms(start, total_ms);
  uint64_t last = 0;
  while (true) {
    while (*done < n && !data_.empty()) {
      out[(*done)++] = data_.front();
      data_.pop_front();
      last = now();
    }
    if (*done == n) return true;
    if (closed_) return false;
    // The interval counts from the last data byte: protocol bytes in
    // between are not data.
    uint64_t deadline = total_deadline;
    if (t.read_interval != 0 && *done > 0) {
      uint64_t gap = after_ms(last, t.read_interval);
      if (gap < deadline) deadline = gap;
    }
    if (deadline != kForever && now() >= deadline) return true; // time-out: what arrived so far
    if (!take_input(deadline)) {
      if (!data_.empty()) continue; // what came before the end is still read
      return false;
    }
  }
}

bool NetworkPort::purge(uint32_t flags) {
  pf::Locked hold(lock_);
  uint8_t what = 0;
  if (flags & pf::kPurgeRxClear) what |= 1;
  if (flags & pf::kPurgeTxClear) what |= 2;
  if (what == 0) return !closed_;
  std::vector<uint8_t> out;
  com_port_command(kPurgeData, &what, 1, out);
  if (!send_all(out, after_ms(now(), kSettingsWaitMs), nullptr)) return false;
  if (what & 1) {
    // What has arrived here is dropped as well.
    if (!take_input(0)) return false;
    data_.clear();
  }
  return true;
}

bool NetworkPort::control(uint8_t value, bool check_value) {
  // Some servers never answer a line control (ser2net on a
  // pseudo-terminal). A query of the rate goes right behind the request:
  // its answer marks the point by which an answer to the control would have
  // come, so nothing waits out a timer.
  size_t key = reply_key(kSetControl, value);
  uint64_t deadline = after_ms(now(), kSettingsWaitMs);
  const uint8_t query[4] = {0, 0, 0, 0};
  if (!request(kSetControl, &value, 1, deadline) || !request(kSetBaudrate, query, 4, deadline)) return false;
  if (!await_reply(kSetBaudrate, deadline)) return !closed_; // a slow server: the request went out
  if (!answered_[key]) return true;
  return !check_value || answer_[key][0] == value;
}

bool NetworkPort::escape(pf::LineCode code) {
  pf::Locked hold(lock_);
  switch (code) {
  case pf::LineCode::SetRts: return control(kControlRtsOn, true);
  case pf::LineCode::ClrRts: return control(kControlRtsOff, true);
  case pf::LineCode::SetDtr: return control(kControlDtrOn, true);
  case pf::LineCode::ClrDtr: return control(kControlDtrOff, true);
  }
  return false;
}

bool NetworkPort::set_break(bool on) {
  pf::Locked hold(lock_);
  // Servers are known to answer a break request with "on" either way.
  return control(on ? kControlBreakOn : kControlBreakOff, false);
}

bool NetworkPort::modem_status(uint32_t *bits) {
  pf::Locked hold(lock_);
  if (!take_input(0)) return false; // reports that came in meanwhile
  // The report's high four bits are the lines, in the platform's order.
  *bits = modem_state_ & (pf::kModemCts | pf::kModemDsr | pf::kModemRing | pf::kModemRlsd);
  return true;
}

} // namespace tavio::net
