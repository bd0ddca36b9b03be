// Fuzz target for the network port's Telnet side: any byte stream is
// decoded without a crash, without a write out of bounds and in one step per
// byte; data escaped by the library decodes back to itself whatever came
// before it; address texts of any shape are parsed safely; and a network
// port whose server sends the input (in pieces the input chooses) opens,
// reads, writes and closes within bounded steps whatever it says.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/rfc2217.h"

using tavio::net::TelnetDecoder;
namespace pf = tavio::platform;

namespace {

// A server that sends the script: net_receive hands out its pieces, the
// clock moves on by itself so that every wait ends, sends are swallowed.
class ScriptBackend final : public pf::Backend {
public:
  ScriptBackend(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  int32_t net_send(int32_t, const void *, uint32_t n) override { return static_cast<int32_t>(n); }
  int32_t net_receive(int32_t, void *out, uint32_t n) override {
    if (pos_ >= size_) return 0; // the server has closed
    // The first byte of each piece is its length (0: nothing waiting now).
    size_t piece = data_[pos_++] % 64;
    if (piece == 0) return pf::kNetNothing;
    piece = std::min({piece, size_ - pos_, static_cast<size_t>(n)});
    std::memcpy(out, data_ + pos_, piece);
    pos_ += piece;
    return piece == 0 ? 0 : static_cast<int32_t>(piece);
  }
  int net_wait(int32_t, bool want_write, uint64_t deadline) override {
    clock_ += 1000000;
    if (deadline != pf::kNetForever && clock_ >= deadline) return 0;
    return pf::kNetReadable | (want_write ? pf::kNetWritable : 0);
  }
  uint64_t now_ns() override { return clock_ += 1000; }
  void sleep_ns(uint64_t ns) override { clock_ += ns; }

  bool device_path(const char *, std::string &) override { return false; }
  pf::Handle open_device(const char *) override { return pf::kInvalidHandle; }
  bool close(pf::Handle) override { return false; }
  bool clear_errors(pf::Handle) override { return false; }
  bool get_config(pf::Handle, pf::LineConfig &) override { return false; }
  bool apply_settings(const char *, pf::LineConfig &) override { return false; }
  bool set_config(pf::Handle, const pf::LineConfig &) override { return false; }
  bool set_timeouts(pf::Handle, const pf::Timeouts &) override { return false; }
  bool transmit_char(pf::Handle, uint8_t) override { return false; }
  bool read(pf::Handle, void *, uint32_t, uint32_t *) override { return false; }
  bool write(pf::Handle, const void *, uint32_t, uint32_t *) override { return false; }
  bool purge(pf::Handle, uint32_t) override { return false; }
  bool escape(pf::Handle, pf::LineCode) override { return false; }
  bool set_break(pf::Handle, bool) override { return false; }
  bool modem_status(pf::Handle, uint32_t *) override { return false; }
  bool keyboard_present() override { return false; }
  bool take_key_input(bool) override { return false; }
  void end_key_input() override {}
  bool pump_messages() override { return false; }
  void show_message(const char *, const char *) override {}
  int32_t file_open_read(const char *) override { return -1; }
  int32_t file_read(int32_t, void *, uint32_t) override { return -1; }
  void file_close(int32_t) override {}
  int32_t file_begin_replace(const char *) override { return -1; }
  int32_t file_write(int32_t, const void *, uint32_t) override { return -1; }
  bool file_commit(int32_t) override { return false; }
  void file_abandon(int32_t) override {}

private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  uint64_t clock_ = 0;
};

void drive_port(const uint8_t *data, size_t size) {
  ScriptBackend b(data, size);
  tavio::net::NetworkPort port(b, 3);
  if (port.start()) {
    pf::LineConfig c;
    port.get_config(c);
    c.baud = 19200;
    port.set_config(c);
  }
  port.set_timeouts(pf::Timeouts{5, 1, 5, 1, 5});
  uint8_t buf[32];
  uint32_t done = 0;
  port.read(buf, sizeof buf, &done);
  if (done > sizeof buf) std::abort();
  const uint8_t out[] = {1, 255, 2, 255, 255};
  port.write(out, sizeof out, &done);
  if (done > sizeof out) std::abort();
  uint32_t bits = 0;
  port.modem_status(&bits);
  if (bits & ~0xF0u) std::abort();
  port.escape(pf::LineCode::SetRts);
  port.set_break(true);
  port.purge(pf::kPurgeRxClear | pf::kPurgeTxClear);
  port.read(buf, sizeof buf, &done);
  port.close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Hostile input straight into a decoder.
  TelnetDecoder d;
  for (size_t i = 0; i < size; ++i) {
    TelnetDecoder::Event e = d.feed(data[i]);
    if (e == TelnetDecoder::Event::Subnegotiation && d.payload_size() > TelnetDecoder::kMaxSubnegotiation) std::abort();
  }

  // Escaped data after a complete command decodes to exactly that data.
  std::vector<uint8_t> stream = {tavio::net::kIac, 241}; // NOP: the decoder is back in data
  tavio::net::escape_data(data, size, stream);
  TelnetDecoder clean;
  std::vector<uint8_t> out;
  for (uint8_t b : stream)
    if (clean.feed(b) == TelnetDecoder::Event::Data) out.push_back(clean.value());
  if (out != std::vector<uint8_t>(data, data + size)) std::abort();

  // Com port commands framed by the library come out as one subnegotiation
  // with the payload as given.
  if (size > 0 && size <= TelnetDecoder::kMaxSubnegotiation - 2) {
    std::vector<uint8_t> framed;
    tavio::net::com_port_command(data[0], data + 1, size - 1, framed);
    TelnetDecoder sub;
    int seen = 0;
    for (uint8_t b : framed)
      if (sub.feed(b) == TelnetDecoder::Event::Subnegotiation) {
        ++seen;
        if (sub.payload_size() != size + 1 || sub.payload()[0] != tavio::net::kOptComPort) std::abort();
        for (size_t i = 0; i < size; ++i)
          if (sub.payload()[i + 1] != data[i]) std::abort();
      }
    if (seen != 1) std::abort();
  }

  // An address text of any shape.
  std::string text = "rfc2217://" + std::string(reinterpret_cast<const char *>(data), size);
  std::string host;
  uint16_t port = 0;
  if (tavio::net::parse_address(text.c_str(), host, port) && (port == 0 || host.empty())) std::abort();

  // A network port against a server that sends the input.
  drive_port(data, size);
  return 0;
}
