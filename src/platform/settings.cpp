// Parser for the settings part of a mode string, in the two forms users
// type: the short form "19200,N,8,2" (baud, parity letter, data bits, stop
// bits; trailing fields may be left out, an optional fifth field "x" or "p"
// asks for XON/XOFF or hardware flow control) and the long form
// "baud=19200 parity=N data=8 stop=2" with optional "xon=on", "octs=on",
// "odsr=on", "dtr=on|off|hs", "rts=on|off|hs|tg". Anything else is refused,
// and the configuration is then left as it was. The parser takes everything
// that the settings text can say; a backend refuses at set_config what its
// port cannot carry out.
#include "platform/platform.h"

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tavio::platform {

namespace {

constexpr uint32_t kRates[] = {110,    300,    600,    1200,   2400,   4800,
                               9600,   14400,  19200,  38400,  57600,  115200,
                               230400, 460800, 500000, 576000, 921600};

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool parse_uint(std::string_view s, uint32_t &out) {
  if (s.empty() || s.size() > 9) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  out = v;
  return true;
}

bool parse_baud(std::string_view s, LineConfig &c) {
  uint32_t v;
  if (!parse_uint(s, v) || !is_supported_baud(v)) return false;
  c.baud = v;
  return true;
}

bool parse_parity(std::string_view s, LineConfig &c) {
  if (s.size() != 1) return false;
  switch (std::toupper(static_cast<unsigned char>(s[0]))) {
  case 'N': c.parity = Parity::None; return true;
  case 'E': c.parity = Parity::Even; return true;
  case 'O': c.parity = Parity::Odd; return true;
  case 'M': c.parity = Parity::Mark; return true;
  case 'S': c.parity = Parity::Space; return true;
  default: return false;
  }
}

bool parse_data(std::string_view s, LineConfig &c) {
  uint32_t v;
  if (!parse_uint(s, v) || v < 5 || v > 8) return false;
  c.data_bits = static_cast<uint8_t>(v);
  return true;
}

bool parse_stop(std::string_view s, LineConfig &c) {
  if (s == "1") c.stop_bits = StopBits::One;
  else if (s == "1.5") c.stop_bits = StopBits::OneHalf;
  else if (s == "2") c.stop_bits = StopBits::Two;
  else return false;
  return true;
}

bool parse_on_off(std::string_view s, bool &out) {
  std::string v(s);
  for (char &ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (v == "on") out = true;
  else if (v == "off") out = false;
  else return false;
  return true;
}

void no_flow_control(LineConfig &c) {
  c.xon_xoff = c.cts_handshake = c.dsr_handshake = false;
  c.dtr_handshake = c.rts_handshake = c.rts_toggle = false;
}

// "on", "off", "hs" (handshake) and, where toggle is given, "tg".
bool parse_line_control(std::string_view s, bool &on, bool &named, bool &handshake, bool *toggle) {
  std::string v(s);
  for (char &ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  bool is_toggle = toggle != nullptr && v == "tg";
  if (v != "hs" && !is_toggle && !parse_on_off(v, on)) return false;
  if (v == "hs" || is_toggle) on = false;
  handshake = v == "hs";
  named = !handshake && !is_toggle;
  if (toggle) *toggle = is_toggle;
  return true;
}

bool parse_short_form(std::string_view text, LineConfig &c) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    fields.push_back(trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (fields.size() > 5) return false;
  if (!parse_baud(fields[0], c)) return false;
  if (fields.size() > 1 && !parse_parity(fields[1], c)) return false;
  if (fields.size() > 2 && !parse_data(fields[2], c)) return false;
  if (fields.size() > 3 && !parse_stop(fields[3], c)) return false;
  // Without a fifth field the port is left without flow control.
  no_flow_control(c);
  if (fields.size() > 4) {
    if (fields[4] == "x" || fields[4] == "X") c.xon_xoff = true;
    else if (fields[4] == "p" || fields[4] == "P")
      c.cts_handshake = c.dsr_handshake = c.dtr_handshake = c.rts_handshake = true;
    else return false;
  }
  return true;
}

bool parse_long_form(std::string_view text, LineConfig &c) {
  no_flow_control(c);
  bool any = false;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size()) break;
    size_t end = i;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    std::string_view item = text.substr(i, end - i);
    i = end;
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) return false;
    std::string key(item.substr(0, eq));
    for (char &ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string_view value = item.substr(eq + 1);
    bool ok;
    if (key == "baud") ok = parse_baud(value, c);
    else if (key == "parity") ok = parse_parity(value, c);
    else if (key == "data") ok = parse_data(value, c);
    else if (key == "stop") ok = parse_stop(value, c);
    else if (key == "xon") ok = parse_on_off(value, c.xon_xoff);
    else if (key == "octs") ok = parse_on_off(value, c.cts_handshake);
    else if (key == "odsr") ok = parse_on_off(value, c.dsr_handshake);
    else if (key == "dtr") ok = parse_line_control(value, c.dtr_auto, c.dtr_named, c.dtr_handshake, nullptr);
    else if (key == "rts") ok = parse_line_control(value, c.rts_auto, c.rts_named, c.rts_handshake, &c.rts_toggle);
    else ok = false;
    if (!ok) return false;
    any = true;
  }
  return any;
}

} // namespace

bool is_supported_baud(uint32_t baud) {
  for (uint32_t r : kRates)
    if (r == baud) return true;
  return false;
}

bool parse_settings(const char *text, LineConfig &config) {
  if (text == nullptr) return false;
  std::string_view t = trim(std::string_view(text));
  if (t.empty()) return false;
  LineConfig work = config;
  bool ok = t.find('=') != std::string_view::npos ? parse_long_form(t, work) : parse_short_form(t, work);
  if (ok) config = work;
  return ok;
}

} // namespace tavio::platform
