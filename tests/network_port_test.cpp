// Network ports: what the shared scenarios (run through ser2net and
// pyserial's server by CTest) do not reach. A scripted server on loopback
// plays the parts that ser2net on a pseudo-terminal cannot: modem lines,
// refused or late answers, Telnet commands inside data. Real ser2net
// servers are killed under open ports, and addresses that lead nowhere
// must fail at once.
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "test_support.h"

namespace tavio::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253, NOP = 241;

// A scripted RFC 2217 server, one connection at a time, written from the
// protocol's description independently of the library's decoder.
class FakeServer {
public:
  // How the server answers (set before the client connects): an echo of
  // the data, a delay before each answer, a greeting, a close right after it.
  int answer_delay_ms = 0;
  bool echo = false;
  bool close_after_greeting = false;
  // While set, the server reads nothing (its receive buffer fills up).
  std::atomic<bool> paused{false};
  Bytes greeting = {IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 0, IAC, DO, 0, IAC, DO, 44};

  // How a com port command is answered, by its code: never, or with this
  // first byte of value instead of the one asked for.
  void never_answer(uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_.insert(code);
  }
  void answer_with(uint8_t code, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    overrides_[code] = value;
  }

  explicit FakeServer(int family = AF_INET) {
    listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage a{};
    socklen_t len;
    if (family == AF_INET6) {
      auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      len = sizeof *v6;
    } else {
      auto *v4 = reinterpret_cast<sockaddr_in *>(&a);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *v4;
    }
    ok_ = ::bind(listener_, reinterpret_cast<sockaddr *>(&a), len) == 0 && ::listen(listener_, 4) == 0 &&
          ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) == 0;
    port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port
                                     : reinterpret_cast<sockaddr_in *>(&a)->sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  bool ok() const { return ok_; }
  std::string url(const char *host = "127.0.0.1") const {
    return std::string("rfc2217://") + host + ":" + std::to_string(port_);
  }

  // Raw bytes to the client (escaped by the caller).
  void send(const Bytes &raw) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_.insert(out_.end(), raw.begin(), raw.end());
  }
  // Ends the current connection.
  void drop() { drop_ = true; }

  // What the client sent: the raw stream, the data, the com port commands.
  Bytes raw() {
    std::lock_guard<std::mutex> lock(mutex_);
    return raw_;
  }
  Bytes data() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  std::vector<Bytes> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // Whether the client ended its connection (read the end of the stream).
  bool client_ended() const { return ended_; }

private:
  void run() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 10) != 1) continue;
      int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ended_ = false;
      drop_ = false;
      ::send(c, greeting.data(), greeting.size(), MSG_NOSIGNAL);
      if (!close_after_greeting) serve(c);
      ::close(c);
    }
  }

  void serve(int c) {
    enum { Data, Iac, Opt, Sub, SubIac } state = Data;
    Bytes sub;
    while (!stop_ && !drop_) {
      Bytes out;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        out.swap(out_);
      }
      if (!out.empty()) ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
      if (paused) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 5) != 1) continue;
      uint8_t buf[4096];
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) {
        ended_ = true;
        return;
      }
      Bytes answers;
      std::lock_guard<std::mutex> lock(mutex_);
      raw_.insert(raw_.end(), buf, buf + n);
      for (ssize_t i = 0; i < n; ++i) {
        uint8_t b = buf[i];
        switch (state) {
        case Data:
          if (b == IAC) state = Iac;
          else take_data(b, answers);
          break;
        case Iac:
          if (b == IAC) take_data(b, answers), state = Data;
          else if (b == SB) sub.clear(), state = Sub;
          else if (b >= WILL) state = Opt;
          else state = Data;
          break;
        case Opt: state = Data; break;
        case Sub:
          if (b == IAC) state = SubIac;
          else sub.push_back(b);
          break;
        case SubIac:
          if (b == SE) {
            state = Data;
            if (sub.size() >= 2 && sub[0] == 44) answer(sub, answers);
          } else {
            sub.push_back(b);
            state = Sub;
          }
          break;
        }
      }
      if (!answers.empty()) {
        if (answer_delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(answer_delay_ms));
        ::send(c, answers.data(), answers.size(), MSG_NOSIGNAL);
      }
    }
  }

  void take_data(uint8_t b, Bytes &answers) {
    data_.push_back(b);
    if (echo) {
      answers.push_back(b);
      if (b == IAC) answers.push_back(IAC);
    }
  }

  void answer(const Bytes &sub, Bytes &answers) {
    commands_.push_back(Bytes(sub.begin() + 1, sub.end()));
    uint8_t code = sub[1];
    if (silent_.count(code) || sub.size() < 3) return;
    Bytes reply = {IAC, SB, 44, static_cast<uint8_t>(code + 100)};
    Bytes value(sub.begin() + 2, sub.end());
    if (code == 1 && value == Bytes{0, 0, 0, 0}) value = {0, 0, 0x25, 0x80}; // the rate in effect: 9600
    if (overrides_.count(code)) value[0] = overrides_[code];
    for (uint8_t v : value) {
      reply.push_back(v);
      if (v == IAC) reply.push_back(IAC);
    }
    reply.push_back(IAC);
    reply.push_back(SE);
    answers.insert(answers.end(), reply.begin(), reply.end());
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false}, drop_{false}, ended_{false};
  std::mutex mutex_;
  Bytes out_, raw_, data_;
  std::vector<Bytes> commands_;
  std::set<uint8_t> silent_;
  std::map<uint8_t, uint8_t> overrides_;
  std::thread thread_;
};

Bytes notify_modem(uint8_t state) { return {IAC, SB, 44, 107, state, IAC, SE}; }

double cpu_ms() {
  rusage u;
  ::getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

class NetworkPort : public LibraryTest {
protected:
  void use(const std::string &url, int com = 3) {
    ::setenv(("TAVIO32_COM" + std::to_string(com)).c_str(), url.c_str(), 1);
  }
  // Opens COM3 on the server and checks the handle is the connection.
  void open_on(FakeServer &s, const char *settings = "19200,N,8,2") {
    ASSERT_TRUE(s.ok());
    use(s.url());
    open_primary(3, settings);
    int type = 0;
    socklen_t len = sizeof type;
    EXPECT_EQ(::getsockopt(GETCOM(), SOL_SOCKET, SO_TYPE, &type, &len), 0);
    EXPECT_EQ(type, SOCK_STREAM);
  }
  static bool contains(const Bytes &hay, const Bytes &needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
  }
  static size_t count(const Bytes &hay, const Bytes &needle) {
    size_t n = 0;
    for (auto it = hay.begin(); (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it) ++n;
    return n;
  }
};

TEST_F(NetworkPort, OpenSendsTheSettingsAndNegotiatesEachOptionOnce) {
  FakeServer s;
  // The greeting offers binary and go-ahead suppression twice over: the
  // client must not answer what is already settled.
  s.greeting.insert(s.greeting.end(), {IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3});
  open_on(s, "9600,E,7,1");
  std::vector<Bytes> cmds = s.commands();
  auto has = [&](const Bytes &c) { return std::find(cmds.begin(), cmds.end(), c) != cmds.end(); };
  EXPECT_TRUE(has(Bytes{1, 0, 0, 0x25, 0x80})); // 9600
  EXPECT_TRUE(has(Bytes{2, 7}));
  EXPECT_TRUE(has(Bytes{3, 3})); // even
  EXPECT_TRUE(has(Bytes{4, 1}));
  EXPECT_TRUE(has(Bytes{5, 1}));    // no flow control
  EXPECT_TRUE(has(Bytes{11, 255})); // modem lines reported
  for (const Bytes &c : cmds) EXPECT_TRUE(c[0] != 8 && c[0] != 9) << int(c[0]);
  Bytes raw = s.raw();
  EXPECT_EQ(count(raw, {IAC, DO, 0}), 1u);
  EXPECT_EQ(count(raw, {IAC, WILL, 0}), 1u);
  EXPECT_EQ(count(raw, {IAC, WILL, 44}), 1u);
  CLOSECOM();
  for (int i = 0; i < 100 && !s.client_ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(s.client_ended()); // no half-open connection after a close
}

TEST_F(NetworkPort, ASettingTheServerDoesNotTakeFailsTheOpenInBoundedTime) {
  struct Case {
    const char *what;
    std::function<void(FakeServer &)> set;
  } cases[] = {
      {"other rate in effect", [](FakeServer &s) { s.answer_with(1, 1); }},
      {"stop bits refused", [](FakeServer &s) { s.answer_with(4, 1); }},
      {"data size unanswered", [](FakeServer &s) { s.never_answer(2); }},
      {"nothing answered", [](FakeServer &s) {
         for (uint8_t c = 1; c <= 5; ++c) s.never_answer(c);
       }},
  };
  for (const Case &c : cases) {
    FakeServer s;
    c.set(s);
    use(s.url());
    std::string m = mode(3);
    double t0 = now_ms();
    EXPECT_EQ(OPENCOM(m.data()), 0) << c.what;
    EXPECT_LT(now_ms() - t0, 3500) << c.what;
    CLOSECOM();
  }
  // Late but within the bound is fine.
  FakeServer slow;
  slow.answer_delay_ms = 300;
  open_on(slow);
}

TEST_F(NetworkPort, ServerTextBeforeAnOpenFailureNeverReachesTheCaller) {
  for (const char *text : {"Port already in use\r\n", "Device open failure: No such file or directory\r\n"}) {
    FakeServer s;
    s.greeting.insert(s.greeting.end(), text, text + std::strlen(text));
    s.close_after_greeting = true;
    use(s.url());
    std::string m = mode(3);
    double t0 = now_ms();
    EXPECT_EQ(OPENCOM(m.data()), 0) << text;
    EXPECT_LT(now_ms() - t0, 1000) << text;
    EXPECT_EQ(READBYTE(), -1);
    CLOSECOM();
  }
}

TEST_F(NetworkPort, TelnetCommandsInsideDataAreFilteredAndEvery255Passes) {
  FakeServer s;
  s.echo = true;
  open_on(s);
  s.send({'A', IAC, NOP, IAC, SB, 44, 107, 0x10, IAC, SE, 'B', IAC, IAC, 'C', IAC, WILL, 1});
  char in[5] = "xxxx";
  EXPECT_EQ(READSTRING(in), 4);
  EXPECT_EQ(Bytes(in, in + 4), (Bytes{'A', 'B', 255, 'C'}));
  EXPECT_EQ(CTS(), 1); // the report in the middle was taken
  // Every byte value, both ways, through an echo.
  for (int v = 0; v < 256; ++v) {
    ASSERT_EQ(SENDBYTE(v), 1);
    ASSERT_EQ(READBYTE(), v);
  }
  char text[] = "\xff\xfe\xff\xf0";
  EXPECT_EQ(SENDSTRING(text), 4);
  EXPECT_EQ(READSTRING(in), 4);
  EXPECT_EQ(std::string(in, 4), std::string(text, 4));
  Bytes d = s.data();
  EXPECT_EQ(Bytes(d.end() - 4, d.end()), (Bytes{0xff, 0xfe, 0xff, 0xf0}));
}

TEST_F(NetworkPort, NegotiationDuringALongWriteNeverLandsInsideIt) {
  FakeServer s;
  open_on(s);
  ASSERT_EQ(TIMEOUT(20000), 100);
  // Far more than the connection holds: the write waits for the server,
  // which meanwhile offers an option the client must answer.
  // (One byte ahead of the 255s puts the connection's chunk boundaries in
  // the middle of their doubled form.)
  std::string big = "A" + std::string(8u << 20, '\xff');
  s.paused = true;
  std::thread server_side([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.send({IAC, WILL, 1});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.paused = false;
  });
  EXPECT_EQ(SENDSTRING(big.data()), static_cast<int32_t>(big.size()));
  server_side.join();
  for (int i = 0; i < 1000 && s.data().size() < big.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Bytes d = s.data();
  EXPECT_EQ(d.size(), big.size());
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d[0], 'A');
  EXPECT_TRUE(std::all_of(d.begin() + 1, d.end(), [](uint8_t b) { return b == 0xff; }));
  EXPECT_EQ(count(s.raw(), {IAC, 254, 1}), 1u); // DONT ECHO, once, after the data
}

TEST_F(NetworkPort, ProtocolTrafficNeverCountsAsDataForATimeOut) {
  FakeServer s;
  open_on(s);
  ASSERT_EQ(TIMEOUT(100), 100);
  std::atomic<bool> done{false};
  std::thread chatter([&] {
    while (!done) {
      s.send({IAC, NOP, IAC, SB, 44, 107, 0x00, IAC, SE});
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  double t0 = now_ms();
  EXPECT_EQ(READBYTE(), -1);
  double took = now_ms() - t0;
  EXPECT_GE(took, 100);
  EXPECT_LT(took, 300);
  // The interval limit counts from the last data byte.
  s.send({'x'});
  char in[4] = "abc";
  t0 = now_ms();
  EXPECT_EQ(READSTRING(in), 1);
  EXPECT_LT(now_ms() - t0, 300);
  done = true;
  chatter.join();
}

TEST_F(NetworkPort, ModemLinesComeFromTheServersReports) {
  FakeServer s;
  open_on(s);
  struct Row {
    uint8_t state;
    int cts, dsr, ri, dcd;
  } rows[] = {{0x30, 1, 1, 0, 0}, {0x80 | 0x08, 0, 0, 0, 1}, {0x40, 0, 0, 1, 0}, {0x00, 0, 0, 0, 0}};
  for (const Row &r : rows) {
    s.send(notify_modem(r.state));
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
      seen = CTS() == r.cts && DSR() == r.dsr && RI() == r.ri && DCD() == r.dcd;
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(seen) << int(r.state);
  }
  // Reports that arrive between reads are taken without a read.
  s.send(notify_modem(0x10));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  double t0 = now_ms();
  EXPECT_EQ(CTS(), 1);
  EXPECT_LT(now_ms() - t0, 50);
}

TEST_F(NetworkPort, LinesAndBreakGoAsControlRequests) {
  FakeServer s;
  open_on(s);
  size_t before = s.commands().size();
  EXPECT_EQ(RTS(1), 1);
  EXPECT_EQ(DTR(0), 1);
  EXPECT_EQ(TXD(1), 1);
  EXPECT_EQ(TXD(0), 1);
  std::vector<Bytes> cmds = s.commands();
  std::vector<Bytes> sent;
  for (size_t i = before; i < cmds.size(); ++i)
    if (cmds[i][0] == 5) sent.push_back(cmds[i]);
  EXPECT_EQ(sent, (std::vector<Bytes>{{5, 11}, {5, 9}, {5, 5}, {5, 6}}));
}

TEST_F(NetworkPort, ARefusedLineChangeFailsAndAnUnansweredOneDoesNot) {
  {
    FakeServer s;
    open_on(s);
    s.answer_with(5, 12); // every control answered "RTS off"
    EXPECT_EQ(RTS(1), 0);
    EXPECT_EQ(RTS(0), 1);
    // Break answers are known to say "on" either way: not a refusal.
    s.answer_with(5, 5);
    EXPECT_EQ(TXD(0), 1);
    CLOSECOM();
  }
  FakeServer quiet;
  open_on(quiet);
  quiet.never_answer(5);
  double t0 = now_ms();
  EXPECT_EQ(DTR(1), 1);
  EXPECT_EQ(DTR(0), 1);
  EXPECT_EQ(RTS(1), 1);
  EXPECT_LT(now_ms() - t0, 1000); // bounded, and not waited for again
}

TEST_F(NetworkPort, FlushInDropsWhatArrivedAndAsksTheServerToo) {
  FakeServer s;
  open_on(s);
  s.send({'a', 'b', 'c'});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(FLUSHIN(), 1);
  EXPECT_EQ(READBYTE(), -1);
  EXPECT_EQ(FLUSHOUT(), 1);
  auto asked = [&](const Bytes &c) {
    for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      std::vector<Bytes> cmds = s.commands();
      if (std::find(cmds.begin(), cmds.end(), c) != cmds.end()) return true;
    }
    return false;
  };
  EXPECT_TRUE(asked({12, 1}));
  EXPECT_TRUE(asked({12, 2}));
}

TEST_F(NetworkPort, AServerThatGoesAwayFailsTransfersWithoutHangingOrSpinning) {
  FakeServer s;
  open_on(s);
  ASSERT_EQ(TIMEOUT(2000), 100);
  std::thread([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.drop();
  }).detach();
  double t0 = now_ms(), c0 = cpu_ms();
  EXPECT_EQ(READBYTE(), -1); // ends with the connection, not at the time-out
  EXPECT_LT(now_ms() - t0, 1500);
  EXPECT_LT(cpu_ms() - c0, 200);
  EXPECT_EQ(SENDBYTE(1), 0);
  char text[] = "abc";
  EXPECT_EQ(SENDSTRING(text), 0);
  EXPECT_EQ(READSTRING(text), 0);
  EXPECT_EQ(FLUSHIN(), 0);
  EXPECT_EQ(CTS(), 0);
}

TEST_F(NetworkPort, AKilledSer2netFailsTransfersAtOnce) {
  attach_new<emu::EchoDevice>(4);
  NetServer server(NetServer::Kind::Ser2net, links_.back()->slave_path());
  use(server.url(), 4);
  open_primary(4);
  ASSERT_EQ(SENDBYTE(0x41), 1);
  ASSERT_EQ(READBYTE(), 0x41);
  ASSERT_EQ(TIMEOUT(3000), 100);
  server.kill();
  double t0 = now_ms(), c0 = cpu_ms();
  EXPECT_EQ(READBYTE(), -1);
  char text[] = "abc";
  EXPECT_EQ(READSTRING(text), 0);
  EXPECT_LT(now_ms() - t0, 1000);
  EXPECT_LT(cpu_ms() - c0, 200);
  // Writes fail at the latest once the peer has reset the connection.
  int sent = 0;
  for (int i = 0; i < 5; ++i) sent += SENDBYTE(1);
  EXPECT_LT(sent, 5);
  CLOSECOM();
  std::string m = mode(4);
  EXPECT_EQ(OPENCOM(m.data()), 0); // refused now
}

TEST_F(NetworkPort, EverySettingReachesTheLineBehindSer2net) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(4);
  NetServer server(NetServer::Kind::Ser2net, link.slave_path());
  use(server.url(), 4);
  struct Row {
    const char *settings;
    uint32_t baud;
    int stop_bits; // as the pty shows them (it keeps 8 bits without parity)
  } rows[] = {{"9600,E,7,1", 9600, 1},   {"19200,O,8,2", 19200, 2},   {"115200,M,8,1", 115200, 1},
              {"38400,S,8,2", 38400, 2}, {"1200,N,5,1.5", 1200, 2},   {"57600,N,8,1,x", 57600, 1},
              {"4800,N,8,2,p", 4800, 2}, {"baud=921600 parity=N data=8 stop=1", 921600, 1}};
  for (const Row &r : rows) {
    std::string m = mode(4, r.settings);
    EXPECT_EQ(OPENCOM(m.data()), 1) << r.settings;
    EXPECT_EQ(link.line().baud, r.baud) << r.settings;
    EXPECT_EQ(link.line().stop_bits, r.stop_bits) << r.settings;
    EXPECT_EQ(SENDBYTE(0x55), 1);
    EXPECT_EQ(READBYTE(), 0x55) << r.settings;
  }
}

TEST_F(NetworkPort, AddressesThatLeadNowhereFailAtOnce) {
  uint16_t closed = free_port();
  const std::string cases[] = {
      "rfc2217://127.0.0.1:" + std::to_string(closed), // refused
      "rfc2217://no-such-host.invalid:4000",
      "rfc2217://127.0.0.1",
      "rfc2217://127.0.0.1:0",
      "rfc2217://127.0.0.1:65536",
      "rfc2217://127.0.0.1:12x",
      "rfc2217://::1:4000", // IPv6 needs brackets
      "rfc2217://[::1:4000",
      "rfc2217://:4000",
  };
  for (const std::string &url : cases) {
    use(url);
    std::string m = mode(3);
    double t0 = now_ms();
    EXPECT_EQ(OPENCOM(m.data()), 0) << url;
    EXPECT_EQ(GETCOM(), -1) << url;
    // An unknown name takes what the system's resolver takes to say so
    // (a machine without a name server waits out its time-out).
    bool lookup = url.find(".invalid") != std::string::npos;
    EXPECT_LT(now_ms() - t0, lookup ? 12000 : 1000) << url;
    ::setenv("TAVIO32_COM4", url.c_str(), 1);
    EXPECT_EQ(IX_OPENCOM(0, m.replace(3, 1, "4").data()), 0) << url;
  }
}

TEST_F(NetworkPort, ABracketedIpv6AddressAndTheSchemeInAnyCase) {
  FakeServer v6(AF_INET6);
  if (!v6.ok()) GTEST_SKIP() << "no IPv6 loopback";
  use(v6.url("[::1]"));
  open_primary(3);
  CLOSECOM();
  FakeServer v4;
  std::string url = v4.url();
  url.replace(0, 7, "RFC2217");
  use(url);
  open_primary(3);
}

} // namespace
} // namespace tavio::test
