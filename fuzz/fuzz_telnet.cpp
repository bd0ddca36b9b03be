// Fuzz target for the network port's Telnet decoder: any byte stream is
// decoded without a crash, without a write out of bounds and in one step per
// byte; data escaped by the library decodes back to itself whatever came
// before it; address texts of any shape are parsed safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/rfc2217.h"

using tavio::net::TelnetDecoder;

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
  return 0;
}
