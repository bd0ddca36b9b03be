// A scripted device behind the primary port and the slots that answers
// random bytes, falls silent or fails at random, while a random sequence of
// library calls reads from it: every reading function of the ports, of the
// interfaces and of the block readout, under every interface code. Results
// stay in their documented ranges, buffers are written only inside the sizes
// the functions document (AddressSanitizer watches exact-size allocations),
// and the closing sequence leaves nothing open.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "block/block.h"
#include "hardware/hardware.h"
#include "scripted_backend.h"
#include "table_check.h"
#include "tavio32.h"

namespace {

constexpr int32_t kCodes[] = {0, 1, 4, 8, 16, 32, 64};

int32_t interface_code(FuzzedDataProvider &in) {
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 240) return kCodes[pick % 7];
  return in.ConsumeIntegral<int32_t>(); // any code at all
}

bool is_code(int32_t v) { return std::find(std::begin(kCodes), std::end(kCodes), v) != std::end(kCodes); }

// A text buffer of exactly n + 1 bytes holding n non-zero characters.
std::unique_ptr<char[]> text_of(size_t n) {
  std::unique_ptr<char[]> p(new char[n + 1]);
  std::memset(p.get(), 'x', n);
  p[n] = 0;
  return p;
}

// The block buffer a caller has for the interface selected: the table export
// reads 30720 bytes with the Sios and 6146 otherwise.
size_t block_buffer_size(int32_t hard) {
  return hard == tavio::kSios ? tavio::kSiosBufferSize : tavio::kZelleBufferSize;
}

void read_block(FuzzedDataProvider &in, tavio::fuzz::ScriptedBackend &b, bool whole) {
  const int32_t hard = GETHARD();
  const size_t size = block_buffer_size(hard);
  std::unique_ptr<char[]> buf(new char[size]);
  std::memset(buf.get(), 0xA5, size);
  const int32_t blocks = in.ConsumeIntegral<int32_t>();
  const bool served = hard == tavio::kSios || hard == tavio::kZelle;
  if (!whole) {
    const int32_t r = BLOCKINFO(buf.get(), blocks);
    if (served) FUZZ_CHECK(r == -1 || r == (hard == tavio::kSios ? 15 : 8));
    else FUZZ_CHECK(r == static_cast<int32_t>(static_cast<uint32_t>(hard) - 8u));
    return;
  }
  const int32_t r = BLOCKEIN(buf.get(), blocks);
  if (!served) {
    FUZZ_CHECK(r == static_cast<int32_t>(static_cast<uint32_t>(hard) - 8u));
    return;
  }
  const int32_t header = hard == tavio::kSios ? 17 : 10;
  FUZZ_CHECK(r == -1 || (r >= header && r <= header + static_cast<int32_t>(size)));
  if (r == -1) return;
  // The readout written out as a table, as an application does next.
  if (tavio::fuzz::table_lines(buf.get(), size - (hard == tavio::kSios ? 16 : 10)) > tavio::fuzz::kFuzzTableLines) return;
  char name[] = "readout.txt";
  const int32_t t = TABELLESPEICHERN(name, buf.get());
  FUZZ_CHECK(t == 0 || t == 1);
  tavio::fuzz::check_table_text(b.files[name]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  tavio::fuzz::ScriptedBackend b(in);
  tavio::fuzz::fresh_library();

  for (int step = 0; step < 48 && in.remaining_bytes() > 0; ++step) {
    const int32_t slot = static_cast<int32_t>(in.ConsumeIntegralInRange<int>(-1, 8));
    switch (in.ConsumeIntegralInRange<int>(0, 25)) {
    case 0: { // open the primary port as an interface, or plainly
      const int32_t port = in.ConsumeIntegralInRange<int32_t>(-1, 10);
      int32_t r = 0;
      switch (in.ConsumeIntegralInRange<int>(0, 6)) {
      case 0: r = INIT(port); break;
      case 1: r = INITSIOS(port); break;
      case 2: r = INITCOMPULAB(port); break;
      case 3: r = INITZELLE(port); break;
      case 4: r = INITCCONTROL(port); break;
      case 5: r = INITCAMFACE(port); break;
      default: {
        char mode[] = "COM1:19200,N,8,2";
        r = OPENCOM(mode);
        FUZZ_CHECK(r == 0 || r == 1);
        continue;
      }
      }
      FUZZ_CHECK(r == 0 || r == port);
      break;
    }
    case 1: SETHARD(interface_code(in)); break;
    case 2: {
      const int32_t v = READBYTE();
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 3: {
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, 300);
      auto buf = text_of(n);
      const int32_t r = READSTRING(buf.get());
      FUZZ_CHECK(r >= 0 && static_cast<size_t>(r) <= n);
      break;
    }
    case 4: {
      const int32_t n = in.ConsumeIntegralInRange<int32_t>(-2, 300);
      STRLENGTH(n);
      // At least STRLENGTH + 1 and 7 bytes, as the function asks.
      auto buf = text_of(static_cast<size_t>(std::max(n + 1, 7)) - 1);
      STRREAD(buf.get());
      if (std::strcmp(buf.get(), "Fehler") != 0 && n > 0) FUZZ_CHECK(buf[n] == 0);
      break;
    }
    case 5: {
      char mode[] = "COM2:9600,N,8,1";
      mode[3] = static_cast<char>('1' + (slot + 9) % 9);
      const int32_t r = IX_OPENCOM(slot, mode);
      FUZZ_CHECK(r == 0 || b.is_open_handle(r));
      break;
    }
    case 6: {
      const int32_t v = IX_READBYTE(slot);
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 7: {
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, 300);
      auto buf = text_of(n);
      const int32_t r = IX_READSTRING(slot, buf.get());
      FUZZ_CHECK(r >= 0 && static_cast<size_t>(r) <= n);
      break;
    }
    case 8: {
      const int32_t n = in.ConsumeIntegralInRange<int32_t>(-2, 300);
      IX_STRLENGTH(slot, n);
      const int32_t len = slot >= 0 && slot < 8 ? n : 14;
      auto buf = text_of(static_cast<size_t>(std::max(len + 1, 7)) - 1);
      IX_STRREAD(slot, buf.get());
      break;
    }
    case 9: {
      const int32_t v = DIN();
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 10: {
      const int32_t v = AIN(in.ConsumeIntegralInRange<int32_t>(-2, 6));
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 11: {
      const int32_t v = UBAT();
      FUZZ_CHECK(v >= 0 && v <= 6800 && v % 100 == 0);
      break;
    }
    case 12: {
      const int32_t t = TASTER();
      FUZZ_CHECK(t == 0 || t == 1);
      const int32_t s = STEIN();
      FUZZ_CHECK(s == 0 || s == 1);
      break;
    }
    case 13: {
      const int32_t v = REGEIN(in.ConsumeIntegral<int32_t>());
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 14: {
      const int32_t v = RAMEIN(in.ConsumeIntegral<int32_t>());
      FUZZ_CHECK(v >= -1 && v <= 255);
      break;
    }
    case 15: {
      const int32_t v = FINDHARD(in.ConsumeBool() ? 1 : 0);
      FUZZ_CHECK(is_code(v) && v == GETHARD());
      break;
    }
    case 16: read_block(in, b, false); break;
    case 17: read_block(in, b, true); break;
    case 18: {
      const int32_t bits = CTS() + DSR() + RI() + DCD() + IX_CTS(slot) + IX_DSR(slot) + IX_RI(slot) + IX_DCD(slot);
      FUZZ_CHECK(bits >= 0 && bits <= 8);
      break;
    }
    case 19: {
      const int32_t t = in.ConsumeIntegralInRange<int32_t>(-5, 5000);
      if (in.ConsumeBool()) {
        TIMEOUT(t);
        IX_TIMEOUT(slot, t);
      } else {
        TIMEOUTOLD(t);
        IX_TIMEOUTOLD(slot, t);
      }
      break;
    }
    case 20: { // a program download: the handshake answers come from the device
      b.files["prog.bin"] = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
      char path[] = "prog.bin";
      const int32_t r = PROLADEN(path);
      FUZZ_CHECK(r == 1);
      PROSTART();
      break;
    }
    case 21: { // writes that answer nothing, under whatever interface is set
      const int32_t v = in.ConsumeIntegral<int32_t>();
      DOUT(v);
      AOUT(in.ConsumeIntegralInRange<int32_t>(-1, 3), v);
      STAUS(v);
      REGAUS(v & 0xFF, v >> 8);
      RAMAUS(v, v >> 16);
      SENDBYTE(v);
      IX_SENDBYTE(slot, v);
      break;
    }
    case 22: {
      BLOCKDEF(in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>());
      BLOCKTRIGGER(in.ConsumeIntegral<int32_t>(), in.ConsumeIntegralInRange<int32_t>(0, 7));
      BLOCKSTART();
      break;
    }
    case 23: {
      const int32_t r = SYSTEMRESET();
      FUZZ_CHECK(r == 0 || r == 1);
      FLUSHIN();
      FLUSHOUT();
      break;
    }
    case 24: {
      std::string text = in.ConsumeRandomLengthString(200);
      text.resize(std::strlen(text.c_str()));
      std::vector<char> t(text.begin(), text.end());
      t.push_back(0);
      FUZZ_CHECK(SENDSTRING(t.data()) == static_cast<int32_t>(text.size()) || GETCOM() <= 0 ||
                 !b.is_open_handle(GETCOM()));
      IX_SENDSTRING(slot, t.data());
      break;
    }
    default:
      if (in.ConsumeBool()) CLOSECOM();
      else IX_CLOSECOM(slot);
      break;
    }
  }
  b.close_all_and_check();
  return 0;
}
