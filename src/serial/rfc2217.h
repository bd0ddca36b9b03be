// Network ports: a serial line on another machine, reached through a Telnet
// connection with the Com Port Control option (RFC 2217), as ser2net and
// similar servers offer it. The protocol lives here, in portable code; the
// bytes travel through the platform's connection calls (Backend::net_*).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tavio::net {

// Telnet command bytes and the options the library uses.
inline constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
inline constexpr uint8_t kOptBinary = 0, kOptEcho = 1, kOptSga = 3, kOptComPort = 44;

// Com Port Control commands, client to server (the server answers with the
// code + 100).
enum ComCommand : uint8_t {
  kSetBaudrate = 1,
  kSetDatasize = 2,
  kSetParity = 3,
  kSetStopsize = 4,
  kSetControl = 5,
  kNotifyLinestate = 6,
  kNotifyModemstate = 7,
  // 8 and 9 (flow control suspend/resume) are never sent: servers read them
  // differently.
  kSetLinestateMask = 10,
  kSetModemstateMask = 11,
  kPurgeData = 12,
};
inline constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values the library uses.
inline constexpr uint8_t kControlNoFlow = 1, kControlXonXoff = 2, kControlHardware = 3;
inline constexpr uint8_t kControlBreakOn = 5, kControlBreakOff = 6;
inline constexpr uint8_t kControlDtrOn = 8, kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11, kControlRtsOff = 12;

// A Telnet stream decoder, one byte at a time. It never blocks, keeps a
// bounded subnegotiation buffer (longer ones are cut short and flagged) and
// accepts any byte sequence.
class TelnetDecoder {
public:
  enum class Event : uint8_t { None, Data, Will, Wont, Do, Dont, Subnegotiation, Command };
  static constexpr size_t kMaxSubnegotiation = 64;

  Event feed(uint8_t byte);
  // Data: the byte. Will/Wont/Do/Dont: the option. Command: the command byte.
  uint8_t value() const { return value_; }
  // Subnegotiation: its payload (option first), unescaped; truncated() when
  // it was longer than the buffer.
  const uint8_t *payload() const { return sb_; }
  size_t payload_size() const { return sb_size_; }
  bool truncated() const { return sb_truncated_; }

private:
  enum class State : uint8_t { Data, Iac, Option, Sb, SbIac };
  State state_ = State::Data;
  uint8_t verb_ = 0;
  uint8_t value_ = 0;
  uint8_t sb_[kMaxSubnegotiation] = {};
  size_t sb_size_ = 0;
  bool sb_truncated_ = false;
};

// Appends data to out with every 255 doubled.
void escape_data(const uint8_t *data, size_t n, std::vector<uint8_t> &out);
// Appends IAC SB COM-PORT-OPTION command payload IAC SE, payload escaped.
void com_port_command(uint8_t command, const uint8_t *payload, size_t n, std::vector<uint8_t> &out);

// A network address "rfc2217://HOST:PORT" (any letter case in the scheme;
// HOST a name, an IPv4 address or a bracketed IPv6 address).
bool is_network_path(const char *path);
bool parse_address(const char *path, std::string &host, uint16_t &port);

// One network port. All of its operations are bounded in time; none of them
// blocks without a deadline unless the caller's time-outs say so.
class NetworkPort {
public:
  // How long the library waits for the connection and for the server's
  // acknowledgement of the line settings.
  static constexpr uint32_t kConnectMs = 3000;
  static constexpr uint32_t kSettingsWaitMs = 2000;
  // How long a close waits for the server to end its side.
  static constexpr uint32_t kCloseWaitMs = 500;

  // Connects and starts the option negotiation. The connection's handle, or
  // -1 (refused, unknown host, no answer in time).
  static int32_t connect(platform::Backend &b, const char *path);
  NetworkPort(platform::Backend &b, int32_t connection);
  ~NetworkPort();
  NetworkPort(const NetworkPort &) = delete;
  NetworkPort &operator=(const NetworkPort &) = delete;

  // Negotiates the options and asks for the line's rate: an open succeeds
  // only when the server has the device open for this connection (a busy
  // server answers with a text and closes, or not at all).
  bool start();
  int32_t handle() const { return s_; }
  // Ends the connection: the server's side is waited for (bounded), so that
  // the device is free again when close returns.
  void close();

  void get_config(platform::LineConfig &c);
  bool set_config(const platform::LineConfig &c);
  void set_timeouts(const platform::Timeouts &t);
  bool write(const void *buffer, uint32_t n, uint32_t *done);
  bool read(void *buffer, uint32_t n, uint32_t *done);
  bool purge(uint32_t flags);
  bool escape(platform::LineCode code);
  bool set_break(bool on);
  bool modem_status(uint32_t *bits);

private:
  enum class Q : uint8_t { No, Yes, WantYes };
  // Sends everything in out by the deadline (0: none), reading what comes
  // meanwhile. False when the connection failed or the deadline passed;
  // *sent counts the bytes that went out.
  bool send_all(const std::vector<uint8_t> &out, uint64_t deadline, size_t *sent);
  // Takes in what the server sent, waiting until the deadline for the first
  // bytes (a deadline in the past: only what is there). False once the
  // connection is gone.
  bool take_input(uint64_t deadline);
  void decode(const uint8_t *raw, size_t n);
  void on_option(TelnetDecoder::Event verb, uint8_t option);
  void on_subnegotiation();
  // Answers are matched by what they answer: the command, and for
  // SET-CONTROL the group of its value (flow, break, DTR, RTS), since a
  // server may answer out of order or not at all.
  static size_t reply_key(uint8_t command, uint8_t value);
  // Sends a command after forgetting earlier answers to it.
  bool request(uint8_t command, const uint8_t *payload, size_t n, uint64_t deadline);
  // Waits until the answer under key has come; false at the deadline or
  // when the connection ended.
  bool await_reply(size_t key, uint64_t deadline);
  bool control(uint8_t value, bool check_value);
  uint64_t now() { return b_.now_ns(); }

  platform::Backend &b_;
  int32_t s_;
  platform::Lock lock_;
  TelnetDecoder decoder_;
  Q us_[256] = {};   // options on our side
  Q them_[256] = {}; // options on the server's side
  std::vector<uint8_t> pending_out_; // negotiation answers not sent yet
  bool sending_ = false;             // inside send_all
  std::deque<uint8_t> data_;         // received data not read yet
  uint64_t last_data_ns_ = 0;
  bool closed_ = false;       // the connection has ended
  bool settings_done_ = false; // until then data is the server's talk, not the device's
  platform::LineConfig config_;
  platform::Timeouts timeouts_{100, 1, 100, 1, 100};
  static constexpr size_t kReplyKeys = 24;
  bool answered_[kReplyKeys] = {};
  uint8_t answer_[kReplyKeys][4] = {};
  uint8_t modem_state_ = 0;
};

} // namespace tavio::net
