// Parser for the settings part of a mode string, in the syntax of the MODE
// command as Windows reads it (BuildCommDCB), so that a mode string means
// the same on every platform:
//
//   old form  "96,N,8,1" or "19200 , e , 7 , 1.5 , x": rate, parity letter,
//             data bits, stop bits, all four required; spaces around the
//             fields; the rates 11, 30, 60, 12, 24, 48, 96 and 19 stand for
//             110 .. 19200; an optional fifth field x (XON/XOFF) or p
//             (hardware handshake), without it no flow control.
//   new form  "baud=9600 parity=n data=8 stop=1" with the keys baud, parity,
//             data, stop, to, xon, odsr, octs, dtr, rts and idsr in any
//             letter case, separated by spaces; only the keys given change
//             the configuration, except that the stop bits are always set
//             (2 after baud=110, else 1 when stop= is not given).
//
// Either form may begin with "COMn:" or "COMn "; otherwise a leading space
// is refused, and a text with a comma is read as the old form. The rate is
// any number: what the port takes is decided when it is configured. Beyond
// BuildCommDCB this parser takes the other MODE values dtr=hs, rts=hs and
// rts=tg (Linux carries out rts=hs). Anything else is refused, and the
// configuration is then left as it was.
#include "platform/platform.h"

#include <cctype>
#include <cstring>

namespace tavio::platform {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether p begins with word, in any letter case.
bool starts_with(const char *p, const char *word) {
  for (; *word; ++p, ++word)
    if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
  return true;
}

void skip_spaces(const char *&p) {
  while (*p == ' ') ++p;
}

// One or more digits; a value past 32 bits stays at the largest one.
bool number(const char *&p, uint32_t &out) {
  if (!is_digit(*p)) return false;
  uint64_t v = 0;
  for (; is_digit(*p); ++p) {
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
  }
  out = static_cast<uint32_t>(v);
  return true;
}

bool parity(const char *&p, Parity &out) {
  switch (std::toupper(static_cast<unsigned char>(*p))) {
  case 'N': out = Parity::None; break;
  case 'E': out = Parity::Even; break;
  case 'O': out = Parity::Odd; break;
  case 'M': out = Parity::Mark; break;
  case 'S': out = Parity::Space; break;
  default: return false;
  }
  ++p;
  return true;
}

bool data_bits(const char *&p, uint8_t &out) {
  uint32_t v;
  if (!number(p, v) || v < 5 || v > 8) return false;
  out = static_cast<uint8_t>(v);
  return true;
}

bool stop_bits(const char *&p, StopBits &out) {
  if (std::strncmp(p, "1.5", 3) == 0) {
    p += 3;
    out = StopBits::OneHalf;
    return true;
  }
  uint32_t v;
  if (!number(p, v) || (v != 1 && v != 2)) return false;
  out = v == 1 ? StopBits::One : StopBits::Two;
  return true;
}

bool on_off(const char *&p, bool &out) {
  if (starts_with(p, "on")) {
    p += 2;
    out = true;
  } else if (starts_with(p, "off")) {
    p += 3;
    out = false;
  } else {
    return false;
  }
  return true;
}

// dtr= and rts=: on, off, hs (handshake) and, for RTS, tg (raised while
// sending). On and off switch the handshake off and put the line so.
bool line_control(const char *&p, bool &on, bool &named, bool &handshake, bool *toggle) {
  const bool hs = starts_with(p, "hs"), tg = toggle != nullptr && starts_with(p, "tg");
  if (hs || tg) {
    p += 2;
    on = named = false;
  } else if (on_off(p, on)) {
    named = true;
  } else {
    return false;
  }
  handshake = hs;
  if (toggle) *toggle = tg;
  return true;
}

// The optional "COMn:" in front; null when the text is refused there.
const char *after_port_name(const char *p) {
  if (!starts_with(p, "com")) return *p == ' ' ? nullptr : p;
  p += 3;
  if (*p < '1' || *p > '9') return nullptr;
  while (is_digit(*p)) ++p;
  if (*p != ':' && *p != ' ') return nullptr;
  skip_spaces(p);
  if (*p == ':') {
    ++p;
    skip_spaces(p);
  }
  return p;
}

// A comma between two fields, with any spaces around it.
bool comma(const char *&p) {
  skip_spaces(p);
  if (*p != ',') return false;
  ++p;
  skip_spaces(p);
  return true;
}

bool old_form(const char *p, LineConfig &c) {
  if (!number(p, c.baud)) return false;
  switch (c.baud) { // the MODE command's two-digit rates
  case 11: case 30: case 60: c.baud *= 10; break;
  case 12: case 24: case 48: case 96: c.baud *= 100; break;
  case 19: c.baud = 19200; break;
  default: break;
  }
  if (!comma(p) || !parity(p, c.parity) || !comma(p) || !data_bits(p, c.data_bits) || !comma(p) ||
      !stop_bits(p, c.stop_bits))
    return false;
  char last = 0;
  skip_spaces(p);
  if (*p == ',') {
    ++p;
    skip_spaces(p);
    if (*p) last = *p++;
    skip_spaces(p);
  }
  if (*p) return false;
  // The flow control is set in every case: none, x or p. Without p the
  // driver raises DTR and RTS by itself, as Windows has it; a POSIX line
  // leaves them alone here (the open puts them afterwards).
  const bool p_field = last == 'p' || last == 'P';
  if (last != 0 && !p_field && last != 'x' && last != 'X') return false;
  c.xon_xoff = last == 'x' || last == 'X';
  c.cts_handshake = c.dsr_handshake = c.dtr_handshake = c.rts_handshake = p_field;
  c.dtr_auto = c.rts_auto = !p_field;
  c.rts_toggle = c.dtr_named = c.rts_named = false;
  return true;
}

bool new_form(const char *p, LineConfig &c) {
  bool baud = false, stop = false;
  while (*p) {
    skip_spaces(p);
    bool ok, ignored;
    if (starts_with(p, "baud=")) {
      baud = true;
      ok = number(p += 5, c.baud);
    } else if (starts_with(p, "parity=")) {
      ok = parity(p += 7, c.parity);
    } else if (starts_with(p, "data=")) {
      ok = data_bits(p += 5, c.data_bits);
    } else if (starts_with(p, "stop=")) {
      stop = true;
      ok = stop_bits(p += 5, c.stop_bits);
    } else if (starts_with(p, "to=")) { // time-outs: the library installs its own
      ok = on_off(p += 3, ignored);
    } else if (starts_with(p, "xon=")) {
      ok = on_off(p += 4, c.xon_xoff);
    } else if (starts_with(p, "odsr=")) {
      ok = on_off(p += 5, c.dsr_handshake);
    } else if (starts_with(p, "octs=")) {
      ok = on_off(p += 5, c.cts_handshake);
    } else if (starts_with(p, "dtr=")) {
      ok = line_control(p += 4, c.dtr_auto, c.dtr_named, c.dtr_handshake, nullptr);
    } else if (starts_with(p, "rts=")) {
      ok = line_control(p += 4, c.rts_auto, c.rts_named, c.rts_handshake, &c.rts_toggle);
    } else if (starts_with(p, "idsr=")) {
      ok = on_off(p += 5, c.dsr_sensitivity);
    } else {
      return false; // an unknown key, or spaces at the end
    }
    if (!ok || (*p && *p != ' ')) return false;
  }
  if (!stop) c.stop_bits = baud && c.baud == 110 ? StopBits::Two : StopBits::One;
  return true;
}

constexpr uint32_t kRates[] = {110,    300,    600,    1200,   2400,   4800,
                               9600,   14400,  19200,  38400,  57600,  115200,
                               230400, 460800, 500000, 576000, 921600};

} // namespace

bool is_supported_baud(uint32_t baud) {
  for (uint32_t r : kRates)
    if (r == baud) return true;
  return false;
}

bool parse_settings(const char *text, LineConfig &config) {
  if (text == nullptr) return false;
  const char *p = after_port_name(text);
  if (p == nullptr) return false;
  LineConfig work = config;
  const bool ok = std::strchr(p, ',') != nullptr ? old_form(p, work) : new_form(p, work);
  if (ok) config = work;
  return ok;
}

} // namespace tavio::platform
