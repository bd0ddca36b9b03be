// A device that vanishes mid-session (a USB adapter pulled; here the
// pseudo-terminal's far end closed): every function of every family returns
// its failure value within one read time-out, without spinning on the
// hung-up descriptor, and the name can be opened again once a device is back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <thread>

#include "block_support.h"
#include "hardware_support.h"

namespace tavio::test {
namespace {

constexpr int kReadTimeoutMs = 100; // the library's default, in force here
constexpr double kSlackMs = 60;     // a busy shared machine
constexpr double kMaxCpuMs = 25;    // a spinning call burns its whole time

double thread_cpu_ms() {
  rusage u{};
  ::getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

constexpr int32_t kAny = INT32_MIN; // a result that says nothing about the device

// Where the row's function talks: the primary port opened plainly, a slot,
// or the primary port with an interface selected.
enum class Family { Primary, Slot, Interface };

struct Row {
  const char *name;
  Family family;
  const Interface *iface; // for Family::Interface
  int32_t failure;        // kAny: only time and processor time are checked
  std::function<int32_t()> call;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

int32_t is_fehler(const char *text) { return std::strcmp(text, "Fehler") == 0 ? 1 : 0; }

std::vector<Row> rows() {
  std::vector<Row> r;
  auto add = [&](const char *name, Family f, const Interface *i, int32_t failure, std::function<int32_t()> call) {
    r.push_back({name, f, i, failure, std::move(call)});
  };
  // The primary port's own functions.
  add("SENDBYTE", Family::Primary, nullptr, 0, [] { return SENDBYTE(0x41); });
  add("READBYTE", Family::Primary, nullptr, -1, [] { return READBYTE(); });
  add("SENDSTRING", Family::Primary, nullptr, 0, [] {
    char t[] = "hello";
    return SENDSTRING(t);
  });
  add("READSTRING", Family::Primary, nullptr, 0, [] {
    char b[] = "12345";
    return READSTRING(b);
  });
  add("STRREAD", Family::Primary, nullptr, 1, [] {
    char buf[8] = "abcdef";
    STRREAD(buf);
    return is_fehler(buf);
  });
  add("CTS", Family::Primary, nullptr, 0, [] { return CTS(); });
  add("DSR", Family::Primary, nullptr, 0, [] { return DSR(); });
  add("DCD", Family::Primary, nullptr, 0, [] { return DCD(); });
  add("RI", Family::Primary, nullptr, 0, [] { return RI(); });
  add("TXD", Family::Primary, nullptr, 0, [] { return TXD(1); });
  add("FLUSHIN", Family::Primary, nullptr, 0, [] { return FLUSHIN(); });
  add("FLUSHOUT", Family::Primary, nullptr, 0, [] { return FLUSHOUT(); });
  // The same on slot 0.
  add("IX_SENDBYTE", Family::Slot, nullptr, 0, [] { return IX_SENDBYTE(0, 0x41); });
  add("IX_READBYTE", Family::Slot, nullptr, -1, [] { return IX_READBYTE(0); });
  add("IX_SENDSTRING", Family::Slot, nullptr, 0, [] {
    char t[] = "hello";
    return IX_SENDSTRING(0, t);
  });
  add("IX_READSTRING", Family::Slot, nullptr, 0, [] {
    char b[] = "12345";
    return IX_READSTRING(0, b);
  });
  add("IX_STRREAD", Family::Slot, nullptr, 1, [] {
    char buf[8] = "abcdef";
    IX_STRREAD(0, buf);
    return is_fehler(buf);
  });
  add("IX_CTS", Family::Slot, nullptr, 0, [] { return IX_CTS(0); });
  add("IX_DSR", Family::Slot, nullptr, 0, [] { return IX_DSR(0); });
  add("IX_TXD", Family::Slot, nullptr, 0, [] { return IX_TXD(0, 1); });
  // Interface I/O on each interface.
  for (const Interface &i : kInterfaces) {
    const bool zelle = std::strcmp(i.device, "zelle") == 0;
    add("DOUT", Family::Interface, &i, 0, [] { return DOUT(5); });
    add("DIN", Family::Interface, &i, zelle ? 0 : -1, [] { return DIN(); });
    add("AIN", Family::Interface, &i, zelle ? 0 : -1, [] { return AIN(1); });
    // Interfaces without analog outputs return 0 without sending anything.
    add("AOUT", Family::Interface, &i, 0, [] { return AOUT(1, 100); });
  }
  // Zelle and Sios commands, block measurement and program download.
  for (const Interface *i : {&kSiosRow, &kZelleRow}) {
    if (std::strcmp(i->device, "zelle") == 0) {
      add("UBAT", Family::Interface, i, 0, [] { return UBAT(); });
      add("TASTER", Family::Interface, i, 0, [] { return TASTER(); });
      add("STAUS", Family::Interface, i, 0, [] { return STAUS(1); });
      add("STEIN", Family::Interface, i, 1, [] { return STEIN(); }); // a missing answer reads as 1
      add("SYSTEMRESET", Family::Interface, i, 0, [] { return SYSTEMRESET(); });
    }
    add("REGAUS", Family::Interface, i, 0, [] { return REGAUS(3, 7); });
    add("REGEIN", Family::Interface, i, -1, [] { return REGEIN(3); });
    add("RAMAUS", Family::Interface, i, 0, [] { return RAMAUS(7, 0x100); });
    add("RAMEIN", Family::Interface, i, -1, [] { return RAMEIN(0x100); });
    add("BLOCKDEF", Family::Interface, i, kAny, [] { return BLOCKDEF(100, 3, 10); }); // returns the timer
    add("BLOCKSTART", Family::Interface, i, kAny, [] { return BLOCKSTART(); }); // waits 100 ms, returns the timer
    add("BLOCKTRIGGER", Family::Interface, i, kAny, [] {
      BLOCKTRIGGER(10, 1);
      return 0;
    });
    add("BLOCKINFO", Family::Interface, i, -1, [] {
      char buf[16384] = {};
      return BLOCKINFO(buf, 1);
    });
    add("BLOCKEIN", Family::Interface, i, -1, [] {
      static char buf[70000];
      return BLOCKEIN(buf, 1);
    });
    add("PROLADEN", Family::Interface, i, kAny, [] { // returns the file's handle
      TempDir dir;
      std::string path = dir.file("program.bin");
      write_all(path, std::string(4096, '\x5a')); // a program of a few kilobytes
      return PROLADEN(path.data());
    });
    add("PROSTART", Family::Interface, i, 0, [] { return PROSTART(); });
  }
  // Detection finds nothing where the device was.
  add("FINDHARD", Family::Interface, &kSiosRow, 0, [] { return FINDHARD(0); });
  return r;
}

class VanishedDevice : public HardwareTest, public ::testing::WithParamInterface<Row> {};

TEST_P(VanishedDevice, FailsWithinOneReadTimeoutWithoutSpinning) {
  const Row &row = GetParam();
  switch (row.family) {
  case Family::Primary:
    attach_new<emu::SilentDevice>(3);
    open_primary(3);
    break;
  case Family::Slot: {
    attach_new<emu::SilentDevice>(4);
    std::string m = mode(4);
    ASSERT_GT(IX_OPENCOM(0, m.data()), 0);
    break;
  }
  case Family::Interface: select_silent(*row.iface); break;
  }
  links_.clear(); // the far end goes away, as a pulled adapter does

  const double cpu0 = thread_cpu_ms();
  const double t0 = now_ms();
  const int32_t result = row.call();
  const double elapsed = now_ms() - t0;
  const double cpu = thread_cpu_ms() - cpu0;
  if (row.failure != kAny) {
    EXPECT_EQ(result, row.failure);
  }
  EXPECT_LT(elapsed, kReadTimeoutMs + kSlackMs);
  EXPECT_LT(cpu, kMaxCpuMs) << "over " << elapsed << " ms";
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, VanishedDevice, ::testing::ValuesIn(rows()), [](const auto &info) {
  const Row &r = info.param;
  std::string name = r.name;
  if (r.family == Family::Interface) name += std::string("_") + r.iface->device;
  return name;
});

class DeviceBack : public HardwareTest {};

TEST_F(DeviceBack, PrimaryPortSlotAndInterfaceOpenAgainOnANewDevice) {
  attach_new<emu::SilentDevice>(3);
  attach_new<emu::SilentDevice>(4);
  open_primary(3);
  std::string slot_mode = mode(4);
  ASSERT_GT(IX_OPENCOM(0, slot_mode.data()), 0);
  links_.clear();
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(IX_READBYTE(0), -1);
  // While the device is away its name opens nothing.
  std::string primary_mode = mode(3);
  EXPECT_EQ(OPENCOM(primary_mode.data()), 0);
  EXPECT_EQ(INITSIOS(3), 0);
  EXPECT_EQ(IX_OPENCOM(0, slot_mode.data()), 0);

  // The adapters are plugged in again (new pseudo-terminals, same names).
  attach_new<emu::EchoDevice>(3);
  attach_new<emu::EchoDevice>(4);
  open_primary(3);
  EXPECT_EQ(SENDBYTE(0x5a), 1);
  EXPECT_EQ(READBYTE(), 0x5a);
  ASSERT_GT(IX_OPENCOM(0, slot_mode.data()), 0);
  EXPECT_EQ(IX_SENDBYTE(0, 0x33), 1);
  EXPECT_EQ(IX_READBYTE(0), 0x33);

  // And an interface, selected again on its new device, answers.
  links_.clear();
  emu::DeviceOptions options;
  options.din = 0x2a;
  select(kSiosRow, options);
  EXPECT_EQ(DIN(), 0x2a);
}

TEST_F(DeviceBack, AWaitInProgressEndsWhenTheDeviceGoes) {
  attach_new<emu::SilentDevice>(3);
  open_primary(3);
  ASSERT_EQ(TIMEOUT(3000), 100);
  std::unique_ptr<emu::PtyLink> link = std::move(links_.back());
  links_.pop_back();
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    link.reset();
  });
  char buf[] = "0123456789";
  const double t0 = now_ms();
  EXPECT_EQ(READSTRING(buf), 0);
  const double elapsed = now_ms() - t0;
  unplug.join();
  EXPECT_LT(elapsed, 1000.0) << "the read waited for its time-out instead of seeing the device go";
}

TEST_F(DeviceBack, BlockReadoutKeepsTheBytesReceivedBeforeTheDeviceWent) {
  attach(3, std::make_unique<emu::BlockDevice>(emu::BlockMode::Kind::Sios, ramp_sampler));
  open_primary(3);
  SETHARD(4);
  BLOCKDEF(100, 3, 20);
  BLOCKSTART();
  std::vector<char> whole(30720, 0);
  ASSERT_EQ(BLOCKEIN(whole.data(), 1), 218);

  // The same readout again; the device goes once the library has asked for
  // part of the data.
  std::unique_ptr<emu::PtyLink> link = std::move(links_.back());
  links_.pop_back();
  link->clear();
  std::thread unplug([&] {
    link->wait_for(10 + 1 + 13 + 80, 5000); // link reset, header, 80 data requests
    link.reset();
  });
  std::vector<char> part(whole.size(), 0x55);
  const double t0 = now_ms();
  const int32_t result = BLOCKEIN(part.data(), 1);
  const double elapsed = now_ms() - t0;
  unplug.join();
  EXPECT_EQ(result, -1);
  size_t kept = 0;
  while (kept < part.size() && part[kept] == whole[kept]) ++kept;
  EXPECT_GE(kept, 16u + 60u) << "the header and the data received so far stay in the buffer";
  EXPECT_LT(kept, 216u) << "the device went before the end of the data";
  for (size_t i = kept; i < part.size(); ++i) ASSERT_EQ(part[i], 0) << "byte " << i << " was never received";
  EXPECT_LT(elapsed, 2000.0);
}

} // namespace
} // namespace tavio::test
