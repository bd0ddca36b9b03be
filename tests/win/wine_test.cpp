// The Windows test program: TAVIO32.DLL, linked through its import library,
// driven against the device emulators that scripts/test-wine.sh puts on
// COM3 (Sios), COM4 (Zelle), COM5 (CompuLab) and COM6 (echo), and through
// ser2net on COM7 (echo) and COM8 (Sios). One group per function family,
// aimed at what differs from the Linux build: time-out sets, byte spacing,
// file replacement, the shared section, thread notifications, exports by
// ordinal, Winsock.
//
//   tavio32_wine_test LOGDIR LOADER SCRATCHDIR
//
// LOGDIR holds the emulators' --log output (sios.log, zelle.log,
// compulab.log, echo.log, echo-net.log, sios-net.log); LOADER is
// tavio32_wine_load.exe; SCRATCHDIR is an empty directory for files (a file
// net-stop there ends the ser2net).
#include "../settings_table.h"
#include "tavio32.h"
#include "wine_support.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string g_logs, g_loader, g_scratch;

std::string log_of(const char *device) { return g_logs + "\\" + device + ".log"; }

struct Export {
  int ordinal;
  const char *name;
};
const Export kExports[] = {
    {1, "OPENCOM"},       {2, "CLOSECOM"},       {3, "FLUSHIN"},       {4, "FLUSHOUT"},        {5, "SENDBYTE"},
    {6, "READBYTE"},      {7, "SENDSTRING"},     {8, "READSTRING"},    {9, "TIMEOUT"},         {10, "TIMEOUTOLD"},
    {11, "CTS"},          {12, "DCD"},           {13, "DSR"},          {14, "RI"},             {15, "TXD"},
    {16, "RTS"},          {17, "DTR"},           {18, "STRLENGTH"},    {19, "STRREAD"},        {20, "IX_OPENCOM"},
    {21, "IX_CLOSECOM"},  {22, "IX_STRLENGTH"},  {23, "IX_STRREAD"},   {24, "IX_TIMEOUT"},     {25, "IX_TIMEOUTOLD"},
    {26, "IX_SENDBYTE"},  {27, "IX_READBYTE"},   {28, "IX_SENDSTRING"}, {29, "IX_READSTRING"}, {30, "IX_RTS"},
    {31, "IX_DTR"},       {32, "IX_TXD"},        {33, "IX_CTS"},       {34, "IX_DCD"},         {35, "IX_DSR"},
    {36, "IX_RI"},        {37, "SETHARD"},       {38, "GETHARD"},      {39, "INIT"},           {40, "INITSIOS"},
    {41, "INITCOMPULAB"}, {42, "INITZELLE"},     {43, "INITCCONTROL"}, {44, "INITCAMFACE"},    {45, "GETCOM"},
    {46, "DOUT"},         {47, "DIN"},           {48, "AIN"},          {49, "AOUT"},           {50, "FINDHARD"},
    {51, "KBRESET"},      {52, "KBHIT"},         {53, "TASTE"},        {54, "UBAT"},           {55, "TASTER"},
    {56, "STAUS"},        {57, "STEIN"},         {58, "SYSTEMRESET"},  {59, "REGAUS"},         {60, "REGEIN"},
    {61, "RAMAUS"},       {62, "RAMEIN"},        {63, "BLOCKDEF"},     {64, "BLOCKSTART"},     {65, "BLOCKTRIGGER"},
    {66, "MESSUNGEN"},    {67, "KANALZAHL"},     {68, "ZEITINTERVALL"}, {69, "BLOCKINFO"},     {70, "BLOCKZAHL"},
    {71, "DATENMENGE"},   {72, "BLOCKEIN"},      {73, "PROLADEN"},     {74, "PROSTART"},       {75, "DATENSPEICHERN"},
    {76, "DATENLADEN"},   {77, "TABELLESPEICHERN"}, {78, "DELAY"},     {79, "TIMEREAD"},       {80, "TIMEINIT"},
    {81, "TIME"},         {82, "VERSION"},       {83, "RC"},
};

std::string read_file(const std::string &path) {
  std::string out;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

void write_file(const std::string &path, const std::string &content) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

// Files in the scratch directory whose names end in .tmp: what a replaced
// file must not leave behind.
int leftover_temp_files() {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((g_scratch + "\\*.tmp").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(h, &found));
  FindClose(h);
  return n;
}

void version_and_exports() {
  wt::group("version, exports by name and by ordinal");
  CHECK_EQ(VERSION(0), 122);
  CHECK_EQ(VERSION(1), 122); // no display: the message box returns at once
  HMODULE dll = GetModuleHandleA("TAVIO32.DLL");
  CHECK(dll != nullptr);
  if (!dll) return;
  for (const Export &e : kExports) {
    FARPROC by_name = GetProcAddress(dll, e.name);
    FARPROC by_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(e.ordinal));
    if (by_name == nullptr || by_name != by_ordinal) wt::fail(__FILE__, __LINE__, std::string("export ") + e.name);
    ++wt::g_checks;
  }
  CHECK(GetProcAddress(dll, MAKEINTRESOURCEA(84)) == nullptr);
  CHECK(GetProcAddress(dll, "tavio32_set_message_handler") == nullptr);
  CHECK(GetProcAddress(dll, "OPENCOM@4") == nullptr);
  // Called through the ordinal, with the export's own calling convention.
  auto version = wt::proc<int32_t(__stdcall *)(int32_t)>(dll, MAKEINTRESOURCEA(82));
  auto ain = wt::proc<int32_t(__stdcall *)(int32_t)>(dll, MAKEINTRESOURCEA(48));
  if (version && ain) {
    CHECK_EQ(version(0), 122);
    CHECK_BETWEEN(ain(1), 0, 255); // no interface: simulated
  }
}

void primary_port() {
  wt::group("primary port: open, time-outs, bytes, lines");
  char absent[] = "COM2:19200,N,8,2";
  CHECK_EQ(OPENCOM(absent), 0);
  CHECK_EQ(GETCOM(), -1);
  char bad_rate[] = "COM6:12345,N,8,2";
  CHECK_EQ(OPENCOM(bad_rate), 0);
  CHECK_EQ(OPENCOM(nullptr), 0);
  char mode[] = "COM6:19200,N,8,2";
  CHECK_EQ(OPENCOM(mode), 1);
  CHECK(GETCOM() > 0);
  CHECK_EQ(std::strcmp(mode, "COM6:19200,N,8,2"), 0);

  // A single byte waits T + 1 ms; the old set has the same total.
  CHECK_EQ(TIMEOUT(100), 100);
  double t = wt::now_ms();
  CHECK_EQ(READBYTE(), -1);
  CHECK_TIME(wt::now_ms() - t, 99.0, 400.0);
  CHECK_EQ(TIMEOUT(30), 100);
  t = wt::now_ms();
  CHECK_EQ(READBYTE(), -1);
  CHECK_TIME(wt::now_ms() - t, 29.0, 300.0);
  CHECK_EQ(TIMEOUTOLD(50), 30);
  t = wt::now_ms();
  CHECK_EQ(READBYTE(), -1);
  CHECK_TIME(wt::now_ms() - t, 49.0, 300.0);
  CHECK_EQ(TIMEOUT(100), 50);

  // Every byte sent is followed by a pause of at least 2 ms on the fine
  // clock, and the bytes reach the device as sent. (The emulator stamps a
  // byte when its reader gets to it, which on a busy machine can be several
  // bytes late, so the pause is timed here.)
  const size_t before = wt::wire_log(log_of("echo"), 0).size();
  for (int v : {0x41, 0x00, 0xFF, 0x13, 0x141}) {
    const double t = wt::now_ms();
    CHECK_EQ(SENDBYTE(v), 1);
    CHECK_TIME(wt::now_ms() - t, 2.0, 500.0);
  }
  for (int v : {0x41, 0x00, 0xFF, 0x13, 0x41}) CHECK_EQ(READBYTE(), v); // 0x141: the low 8 bits
  CHECK((wt::bytes_after(wt::wire_log(log_of("echo")), before) == std::vector<unsigned>{0x41, 0x00, 0xFF, 0x13, 0x41}));

  // Purges and strings.
  CHECK_EQ(SENDBYTE(7), 1);
  Sleep(50);
  CHECK_EQ(FLUSHIN(), 1);
  CHECK_EQ(READBYTE(), -1);
  CHECK_EQ(FLUSHOUT(), 1);
  char hello[] = "hello\r\n";
  CHECK_EQ(SENDSTRING(hello), 7);
  char buf[] = "........";
  buf[7] = 0;
  CHECK_EQ(READSTRING(buf), 7);
  CHECK_EQ(std::strcmp(buf, "hello\r\n"), 0);
  CHECK_EQ(STRLENGTH(5), 14);
  char fixed[32] = {};
  STRREAD(fixed); // nothing arrives
  CHECK_EQ(std::strcmp(fixed, "Fehler"), 0);
  char abcde[] = "abcde";
  SENDSTRING(abcde);
  STRREAD(fixed);
  CHECK_EQ(std::strcmp(fixed, "abcde"), 0);
  CHECK_EQ(STRLENGTH(14), 5);

  // Lines: a pseudo-terminal has no modem lines under Wine, so the calls
  // may report failure (0); they must neither hang nor crash.
  for (int32_t r : {RTS(1), RTS(0), DTR(1), DTR(0), CTS(), DSR(), RI(), DCD(), TXD(1), TXD(0)})
    CHECK(r == 0 || r == 1);

  CLOSECOM();
  CHECK_EQ(GETCOM(), 0);
  CHECK_EQ(SENDBYTE(1), 0);
  CHECK_EQ(READBYTE(), -1);
}

void port_table() {
  wt::group("port table: slots beside the primary port");
  char mode[] = "COM6:19200,N,8,2";
  const int32_t h = IX_OPENCOM(2, mode);
  CHECK(h > 0);
  CHECK_EQ(GETCOM(), 0);
  CHECK_EQ(IX_TIMEOUT(2, 40), 100);
  double t = wt::now_ms();
  CHECK_EQ(IX_READBYTE(2), -1);
  CHECK_TIME(wt::now_ms() - t, 39.0, 300.0);
  CHECK_EQ(IX_SENDBYTE(2, 0x5A), 1);
  CHECK_EQ(IX_READBYTE(2), 0x5A);
  char text[] = "slot";
  CHECK_EQ(IX_SENDSTRING(2, text), 4);
  char buf[] = "....";
  CHECK_EQ(IX_READSTRING(2, buf), 4);
  CHECK_EQ(std::strcmp(buf, "slot"), 0);
  CHECK_EQ(IX_STRLENGTH(2, 4), 14);
  char fixed[32] = "-";
  IX_SENDSTRING(2, text);
  IX_STRREAD(2, fixed);
  CHECK_EQ(std::strcmp(fixed, "slot"), 0);
  CHECK_EQ(IX_TIMEOUTOLD(2, 100), 40);
  CHECK_EQ(IX_OPENCOM(8, mode), 0);
  CHECK_EQ(IX_READBYTE(8), -1);
  CHECK_EQ(IX_TIMEOUT(-1, 10), -1);
  CHECK_EQ(IX_CLOSECOM(2), 0);
  CHECK_EQ(IX_SENDBYTE(2, 1), 0);
}

// Where the code runs slower than the clock (an emulated PC) a reply can
// take longer than T = 100: the groups that talk to the emulators stretch T
// like the time bounds, and set it back at their end.
struct StretchedT {
  StretchedT() { TIMEOUT(static_cast<int32_t>(100 * wt::time_slack())); }
  ~StretchedT() { TIMEOUT(100); }
};

void detection_and_io() {
  wt::group("detection; digital and analog I/O on Sios, Zelle, CompuLab");
  StretchedT stretched;
  CHECK_EQ(FINDHARD(1), 4); // Sios on COM3, after COM1 and COM2 gave nothing
  CHECK_EQ(GETHARD(), 4);
  CHECK(GETCOM() > 0);
  std::vector<wt::Wire> sios = wt::wire_log(log_of("sios"));
  CHECK(sios.size() >= 4);
  if (sios.size() >= 2) {
    // The found interface has its outputs switched off: 16, 0.
    CHECK_EQ(sios[sios.size() - 2].byte, 16);
    CHECK_EQ(sios.back().byte, 0);
  }

  CHECK_EQ(INITSIOS(3), 3);
  CHECK_EQ(DIN(), 0x96);
  CHECK_EQ(AIN(1), 77);
  size_t mark = wt::wire_log(log_of("sios"), 0).size();
  CHECK_EQ(DOUT(5), 1);
  CHECK_EQ(AOUT(1, 200), 1);
  CHECK_EQ(REGAUS(7, 99), 1);
  CHECK_EQ(REGEIN(7), 99);
  CHECK((wt::bytes_after(wt::wire_log(log_of("sios")), mark) ==
         std::vector<unsigned>{16, 5, 64, 200, 100, 7, 99, 101, 7}));

  CHECK_EQ(INITZELLE(4), 4);
  CHECK_EQ(GETHARD(), 8);
  CHECK_EQ(DIN(), 0x9);
  CHECK_EQ(UBAT(), 4800);
  CHECK_BETWEEN(AIN(2), 0, 255);
  mark = wt::wire_log(log_of("zelle"), 0).size();
  CHECK_EQ(DOUT(3), 1);
  CHECK((wt::bytes_after(wt::wire_log(log_of("zelle")), mark) == std::vector<unsigned>{11, 3 * 16 + 15}));

  CHECK_EQ(INITCOMPULAB(5), 5);
  CHECK_EQ(GETHARD(), 1);
  mark = wt::wire_log(log_of("compulab"), 0).size();
  CHECK_EQ(DIN(), 0x96);
  CHECK_BETWEEN(AIN(1), 0, 255);
  CHECK((wt::bytes_after(wt::wire_log(log_of("compulab")), mark) == std::vector<unsigned>{211, 60}));
  CLOSECOM();
  CHECK_EQ(GETHARD(), 0);
}

void block_recording() {
  wt::group("block recording: readout, raw file, table");
  StretchedT stretched;
  CHECK_EQ(INITSIOS(3), 3);
  BLOCKDEF(60, 0b1010, 25); // channels 2 and 4 every 25 ms
  BLOCKSTART();
  std::vector<char> buffer(30720, 'x');
  CHECK_EQ(BLOCKEIN(buffer.data(), 1), 17 + 121);
  CHECK_EQ(MESSUNGEN(buffer.data()), 60);
  CHECK_EQ(KANALZAHL(buffer.data()), 2);
  CHECK_EQ(ZEITINTERVALL(buffer.data()), 25);
  CHECK_EQ(BLOCKZAHL(buffer.data()), 1);
  CHECK_EQ(DATENMENGE(buffer.data()), 120);

  // The raw file replaces an older one whole, through a temporary file.
  const std::string raw = g_scratch + "\\block.dat";
  write_file(raw, "older content");
  std::vector<char> path(raw.begin(), raw.end());
  path.push_back(0);
  CHECK_EQ(DATENSPEICHERN(path.data(), buffer.data()), 30720);
  CHECK(read_file(raw) == std::string(buffer.begin(), buffer.end()));
  std::vector<char> loaded(30720, 0);
  CHECK_EQ(DATENLADEN(path.data(), loaded.data()), 30720);
  CHECK(loaded == buffer);
  // A name that is a directory: nothing written, -1.
  std::vector<char> dir(g_scratch.begin(), g_scratch.end());
  dir.push_back(0);
  CHECK_EQ(DATENSPEICHERN(dir.data(), buffer.data()), -1);
  CHECK_EQ(leftover_temp_files(), 0);

  // The table: CR LF lines; the name goes through CharToOemA in place, so
  // the caller's text names the file. With the pinned locale the ANSI
  // code page is 1252 and the OEM one 437: a-umlaut 0xE4 becomes 0x84.
  const std::string ansi = g_scratch + "\\tab\xE4.txt";
  std::vector<char> name(ansi.begin(), ansi.end());
  name.push_back(0);
  const std::string plain = g_scratch + "\\table.txt";
  std::vector<char> plain_name(plain.begin(), plain.end());
  plain_name.push_back(0);
  CHECK_EQ(TABELLESPEICHERN(plain_name.data(), buffer.data()), 1);
  CHECK_EQ(GetACP(), 1252);
  CHECK_EQ(GetOEMCP(), 437);
  CHECK_EQ(TABELLESPEICHERN(name.data(), buffer.data()), 1);
  CHECK(std::string(name.data()) == g_scratch + "\\tab\x84.txt");
  const std::string oem = g_scratch + "\\tab\x84.txt";
  const std::string table = read_file(oem);
  CHECK(table.rfind("Zeit [ms];\tKanal 2\tKanal 4\t\r\n\r\n0\t", 0) == 0);
  size_t lines = 0;
  for (size_t i = 0; i + 1 < table.size(); ++i) lines += table[i] == '\r' && table[i + 1] == '\n';
  CHECK_EQ(lines, 2 + 60);
  CHECK_EQ(leftover_temp_files(), 0);

  // The interface answers its plain commands again.
  CHECK_EQ(REGAUS(7, 42), 1);
  CHECK_EQ(REGEIN(7), 42);
  CLOSECOM();
}

void timing_and_keyboard() {
  wt::group("timing and keyboard");
  for (uint32_t ms : {1u, 2u, 5u}) {
    double t = wt::now_ms();
    DELAY(ms);
    CHECK_TIME(wt::now_ms() - t, double(ms), double(ms) + 50.0);
  }
  const uint32_t start = TIMEINIT();
  Sleep(30);
  CHECK_TIME(TIMEREAD(), 29, 300);
  CHECK_TIME(TIME(), 0.029, 0.3);
  CHECK_TIME(DELAY(0) - start, 29, 300);
  CHECK_BETWEEN(RC(), 200, 255);

  // A key in the thread's state table is a hit, once; the protected keys
  // are neither counted nor cleared (after the load's clearing, done first).
  CHECK_EQ(KBHIT(), 0);
  BYTE state[256] = {};
  state['A'] = 0x80;
  state[VK_SHIFT] = 0x80;
  state[VK_CAPITAL] = 0x01;
  CHECK(SetKeyboardState(state));
  CHECK_EQ(KBHIT(), -1);
  CHECK_EQ(KBHIT(), 0);
  GetKeyboardState(state);
  CHECK_EQ(state['A'], 0);
  CHECK_EQ(state[VK_SHIFT], 0x80);
  CHECK_EQ(state[VK_CAPITAL], 0x01);
  state['B'] = 0x01;
  SetKeyboardState(state);
  CHECK_EQ(KBRESET(), 0);
  CHECK_EQ(KBHIT(), 0);
  state[VK_SHIFT] = state[VK_CAPITAL] = 0;
  SetKeyboardState(state);
}

DWORD WINAPI nothing(void *) { return 0; }

void device_names() {
  wt::group("device names: TAVIO32_COMn first, then the system's COMn");
  char com9[] = "COM9:19200,N,8,2", com6[] = "COM6:19200,N,8,2";
  SetEnvironmentVariableA("TAVIO32_COM9", "\\\\.\\COM6"); // a device path
  CHECK_EQ(OPENCOM(com9), 1);
  CHECK_EQ(SENDBYTE(0x39), 1);
  CHECK_EQ(READBYTE(), 0x39);
  SetEnvironmentVariableA("TAVIO32_COM6", ""); // empty: no device
  CHECK_EQ(IX_OPENCOM(0, com6), 0);
  SetEnvironmentVariableA("TAVIO32_COM6", nullptr);
  SetEnvironmentVariableA("TAVIO32_COM9", nullptr);
  CHECK_EQ(OPENCOM(com9), 0);
  CLOSECOM();
}

// COM7 (echo) and COM8 (Sios) through ser2net; at the end the server is
// ended under an open port.
void network_ports() {
  wt::group("network ports through ser2net: bytes, strings, a slot, detection, I/O, readout");
  char echo[] = "COM7:19200,N,8,2", sios[] = "COM8:19200,N,8,2", local[] = "COM6:19200,N,8,2";
  CHECK_EQ(OPENCOM(echo), 1);
  const int32_t net = GETCOM();
  const int32_t serial = IX_OPENCOM(3, local);
  CHECK(net >= 3 && serial >= 3 && net != serial);
  IX_CLOSECOM(3);
  double t = wt::now_ms();
  CHECK_EQ(READBYTE(), -1);
  CHECK_TIME(wt::now_ms() - t, 99.0, 400.0);
  const size_t before = wt::wire_log(log_of("echo-net"), 0).size();
  // T stretched (StretchedT) until the server goes away.
  TIMEOUT(static_cast<int32_t>(100 * wt::time_slack()));
  for (int v : {0x41, 0x00, 0xFF, 0xF0}) {
    CHECK_EQ(SENDBYTE(v), 1);
    CHECK_EQ(READBYTE(), v);
  }
  char text[] = "ne\xff\r\n", buf[] = ".....";
  CHECK_EQ(SENDSTRING(text), 5);
  CHECK_EQ(READSTRING(buf), 5);
  CHECK(std::strcmp(buf, text) == 0);
  CHECK((wt::bytes_after(wt::wire_log(log_of("echo-net")), before) ==
         std::vector<unsigned>{0x41, 0x00, 0xFF, 0xF0, 'n', 'e', 0xFF, '\r', '\n'}));
  t = wt::now_ms();
  for (int32_t r : {RTS(1), DTR(0), TXD(1), TXD(0), CTS()}) CHECK(r == 0 || r == 1);
  CHECK_TIME(wt::now_ms() - t, 0.0, 2500.0);
  CHECK_EQ(FLUSHIN(), 1);

  // A slot on the Sios beside it; the server, busy with it, turns a second
  // opener away with a text that never reaches the caller.
  CHECK(IX_OPENCOM(1, sios) >= 3);
  CHECK_EQ(IX_SENDBYTE(1, 101), 1); // REGEIN 0
  CHECK_EQ(IX_SENDBYTE(1, 0), 1);
  CHECK_BETWEEN(IX_READBYTE(1), 0, 255);
  t = wt::now_ms();
  CHECK_EQ(IX_OPENCOM(2, sios), 0);
  CHECK_TIME(wt::now_ms() - t, 0.0, 2500.0);
  CHECK_EQ(IX_READBYTE(2), -1);
  IX_CLOSECOM(1);
  CLOSECOM();

  // Detection on a name that leads to the network port.
  SetEnvironmentVariableA("TAVIO32_COM1", std::getenv("TAVIO32_COM8"));
  CHECK_EQ(FINDHARD(0), 4);
  SetEnvironmentVariableA("TAVIO32_COM1", nullptr);
  std::vector<wt::Wire> found = wt::wire_log(log_of("sios-net"));
  CHECK(found.size() >= 2 && found[found.size() - 2].byte == 16 && found.back().byte == 0);
  CHECK_EQ(INITSIOS(8), 8);
  CHECK_EQ(DIN(), 0x5A);
  CHECK_EQ(AIN(2), 123);
  size_t mark = wt::wire_log(log_of("sios-net"), 0).size();
  CHECK_EQ(DOUT(9), 1);
  CHECK_EQ(AOUT(2, 17), 1);
  CHECK((wt::bytes_after(wt::wire_log(log_of("sios-net")), mark) == std::vector<unsigned>{16, 9, 65, 17}));
  BLOCKDEF(40, 0b0101, 20);
  BLOCKSTART();
  std::vector<char> block(30720, 'x');
  CHECK_EQ(BLOCKEIN(block.data(), 1), 17 + 81);
  CHECK_EQ(MESSUNGEN(block.data()), 40);
  CHECK_EQ(KANALZAHL(block.data()), 2);

  // Addresses that lead nowhere fail at once.
  char nowhere[] = "COM9:19200,N,8,2";
  struct {
    const char *url;
    double bound_ms; // a name takes what the resolver takes to say it is unknown
  } nowhere_urls[] = {{"rfc2217://127.0.0.1:1", 1000}, {"rfc2217://127.0.0.1", 1000},
                      {"rfc2217://no-such-host.invalid:7000", 12000}};
  for (const auto &n : nowhere_urls) {
    SetEnvironmentVariableA("TAVIO32_COM9", n.url);
    t = wt::now_ms();
    CHECK_EQ(IX_OPENCOM(4, nowhere), 0);
    CHECK_TIME(wt::now_ms() - t, 0.0, n.bound_ms);
  }
  SetEnvironmentVariableA("TAVIO32_COM9", nullptr);

  // A thread's start closes the network port too (in the entry point); the
  // server has the device back at once.
  HANDLE thread = CreateThread(nullptr, 0, nothing, nullptr, 0, nullptr);
  CHECK(thread != nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CHECK_EQ(GETCOM(), 0);
  CHECK_EQ(INITSIOS(8), 8);

  // The server goes away: transfers fail soon, not at the time-out, and a
  // new open is refused.
  TIMEOUT(100);
  CHECK_EQ(TIMEOUT(3000), 100);
  write_file(g_scratch + "\\net-stop", "");
  Sleep(300);
  t = wt::now_ms();
  CHECK_EQ(READBYTE(), -1);
  CHECK_BETWEEN(wt::now_ms() - t, 0.0, 1500.0);
  int sent = 0;
  for (int i = 0; i < 5; ++i) sent += SENDBYTE(1);
  CHECK(sent < 5);
  CHECK_EQ(DIN(), -1);
  CHECK_EQ(TIMEOUT(100), 3000);
  CHECK_EQ(INITSIOS(8), 0);
  CLOSECOM();
}

void thread_notifications() {
  wt::group("closing sequence on thread start and end");
  char mode[] = "COM6:19200,N,8,2";
  CHECK_EQ(OPENCOM(mode), 1);
  SETHARD(4);
  char slot_mode[] = "COM5:19200,N,8,2";
  CHECK(IX_OPENCOM(0, slot_mode) > 0);
  CHECK_EQ(TIMEOUT(60), 100);
  const int32_t before = GETCOM();
  HANDLE thread = CreateThread(nullptr, 0, nothing, nullptr, 0, nullptr);
  CHECK(thread != nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CHECK(before > 0);
  CHECK_EQ(GETCOM(), 0);
  CHECK_EQ(GETHARD(), 0);
  CHECK_EQ(IX_SENDBYTE(0, 1), 0); // the slot was emptied as well
  // The time-out value itself is kept: a new open installs it.
  CHECK_EQ(OPENCOM(mode), 1);
  CHECK_EQ(TIMEOUT(100), 60);
  CLOSECOM();
}

// The library is loaded here; another process that loads it is refused and
// says why on its standard error.
// Runs the loader in the given mode; its exit code, and its standard error
// in *err.
DWORD run_loader(const char *mode, std::string *err) {
  const std::string err_path = g_scratch + "\\loader-err.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE file = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = file;
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + g_loader + "\" " + mode;
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back(0);
  const bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!started) return 98;
  DWORD code = 99;
  if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  *err = read_file(err_path);
  return code;
}

void second_process() {
  wt::group("one process at a time");
  // Twice: the detach that follows a refused load must not free the library
  // for the next process.
  for (int round = 0; round < 2; ++round) {
    std::string err;
    CHECK_EQ(run_loader("refused", &err), 0);
    CHECK(err.find("Nonshared DATA segment required") != std::string::npos);
  }
  // This process still holds the library.
  CHECK_EQ(VERSION(0), 122);
}

} // namespace

// The shared table of settings texts on COM6: OPENCOM opens with a text
// when BuildCommDCBA takes it, and the port then holds what BuildCommDCBA
// made of its configuration with the open's four changes, the program's own
// XON/XOFF characters kept.
void settings_texts() {
  wt::group("settings texts: OPENCOM beside BuildCommDCBA");
  int taken = 0, opened = 0, agree = 0, lost = 0;
  for (const settings_table::Case &c : settings_table::kCases) {
    char base[] = "COM6:19200,N,8,2";
    CHECK_EQ(OPENCOM(base), 1);
    HANDLE port = reinterpret_cast<HANDLE>(static_cast<intptr_t>(GETCOM()));
    DCB want{}, now{};
    want.DCBlength = now.DCBlength = sizeof want;
    GetCommState(port, &want);
    want.XonChar = 0x21, want.XoffChar = 0x23;
    SetCommState(port, &want);
    GetCommState(port, &want);
    want.fBinary = TRUE, want.fDtrControl = DTR_CONTROL_DISABLE, want.fRtsControl = RTS_CONTROL_DISABLE;
    want.fAbortOnError = FALSE;
    const int built = BuildCommDCBA(c.text, &want) ? 1 : 0;
    std::string m = std::string("COM6:") + c.text;
    const int32_t r = OPENCOM(m.data());
    // Refused although taken only where the port does not keep the rate.
    const bool rate_lost = r == 0 && built && !(SetCommState(port, &want) && GetCommState(port, &now) &&
                                                now.BaudRate == want.BaudRate);
    taken += built, opened += r, agree += r == built, lost += rate_lost;
    // What Wine keeps on a pseudo-terminal (there 1.5 and 2 stop bits are one flag).
    const bool held = GetCommState(port, &now) && now.BaudRate == want.BaudRate && now.fInX == want.fInX &&
                      (now.StopBits == ONESTOPBIT) == (want.StopBits == ONESTOPBIT) && now.fOutX == want.fOutX &&
                      now.fOutxCtsFlow == want.fOutxCtsFlow && now.XonChar == 0x21 && now.XoffChar == 0x23;
    ++wt::g_checks;
    if (built != (c.taken == 1) || (r != built && !rate_lost) || (r == 1 && !held))
      wt::fail(__FILE__, __LINE__, std::string(c.text) + ": " + std::to_string(r) + " / " + std::to_string(built));
  }
  CLOSECOM();
  std::printf("  %d texts: BuildCommDCBA takes %d, OPENCOM opens %d; they agree on %d, the rate lost on %d\n",
              static_cast<int>(std::size(settings_table::kCases)), taken, opened, agree, lost);
}

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tavio32_wine_test LOGDIR LOADER SCRATCHDIR\n");
    return 2;
  }
  g_logs = argv[1];
  g_loader = argv[2];
  g_scratch = argv[3];
  version_and_exports();
  primary_port();
  settings_texts();
  port_table();
  detection_and_io();
  block_recording();
  device_names();
  network_ports();
  timing_and_keyboard();
  thread_notifications();
  second_process();
  return wt::summary("tavio32_wine_test");
}
