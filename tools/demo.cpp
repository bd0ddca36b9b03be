// tavio32-demo: the library's main job against the built-in device
// emulators, so that it runs on any machine, with or without hardware.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "devices.h"
#include "tavio32.h"

namespace {

void quiet_handler(const char *caption, const char *text) { std::printf("  [%s] %s\n", caption, text); }

void section(const char *title) { std::printf("\n== %s\n", title); }

// A block recording on an emulated Sios on COM4: 200 measurements of
// channels 1 and 2 every 50 ms, read back, saved raw and as a table.
void block_recording() {
  section("Block recording on an emulated Sios on COM4");
  tavio::emu::PtyLink sios(tavio::emu::make_device("sios"));
  sios.bind("COM4");
  int32_t port = INITSIOS(4);
  std::printf("INITSIOS(4) = %d, GETHARD() = %d (Sios)\n", port, GETHARD());
  std::printf("BLOCKDEF(200, 3, 50): channels 1 and 2 every 50 ms\n");
  BLOCKDEF(200, 3, 50);
  BLOCKSTART();
  for (const std::string &note : sios.notes()) std::printf("  [device] %s\n", note.c_str());

  std::vector<char> buffer(30720);
  TIMEINIT();
  int32_t got = BLOCKEIN(buffer.data(), 1);
  std::printf("BLOCKEIN(buffer, 1) = %d after %u ms (one request byte per value)\n", got, TIMEREAD());
  std::printf("MESSUNGEN = %d, KANALZAHL = %d, ZEITINTERVALL = %d, BLOCKZAHL = %d, DATENMENGE = %d\n",
              MESSUNGEN(buffer.data()), KANALZAHL(buffer.data()), ZEITINTERVALL(buffer.data()),
              BLOCKZAHL(buffer.data()), DATENMENGE(buffer.data()));

  std::string dir_pattern = (std::filesystem::temp_directory_path() / "tavio32-demo-XXXXXX").string();
  if (::mkdtemp(dir_pattern.data()) == nullptr) {
    std::printf("no temporary directory\n");
    CLOSECOM();
    return;
  }
  std::string raw = dir_pattern + "/messung.dat";
  std::string table = dir_pattern + "/messung.txt";
  std::printf("DATENSPEICHERN(\"%s\") = %d\n", raw.c_str(), DATENSPEICHERN(raw.data(), buffer.data()));
  std::printf("TABELLESPEICHERN(\"%s\") = %d\n", table.c_str(), TABELLESPEICHERN(table.data(), buffer.data()));
  std::printf("First lines of the table (tabs shown as |, each line ends in CR LF):\n");
  std::ifstream in(table, std::ios::binary);
  std::string line;
  for (int i = 0; i < 8 && std::getline(in, line); ++i) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (char &c : line)
      if (c == '\t') c = '|';
    std::printf("  %s\n", line.c_str());
  }
  std::filesystem::remove_all(dir_pattern);
  CLOSECOM();
}

} // namespace

int main() {
  tavio32_set_message_handler(quiet_handler);

  section("Version");
  std::printf("VERSION(0) = %d\n", VERSION(0));
  VERSION(1);

  section("Primary port against an echo device on COM3");
  tavio::emu::PtyLink echo(std::make_unique<tavio::emu::EchoDevice>());
  echo.bind("COM3");
  char mode[] = "COM3:19200,N,8,2";
  int32_t opened = OPENCOM(mode);
  std::printf("OPENCOM(\"%s\") = %d, GETCOM() = %d\n", mode, opened, GETCOM());
  int32_t sent = SENDBYTE(65);
  std::printf("SENDBYTE(65) = %d, READBYTE() = %d (the echo)\n", sent, READBYTE());
  sent = SENDBYTE(321);
  std::printf("SENDBYTE(321) = %d, READBYTE() = %d (the low 8 bits of 321)\n", sent, READBYTE());
  TIMEINIT();
  int32_t none = READBYTE();
  std::printf("READBYTE() with nothing sent = %d after %u ms (time-out 100 ms + 1)\n", none, TIMEREAD());
  CLOSECOM();
  std::printf("CLOSECOM(): GETCOM() = %d, GETHARD() = %d\n", GETCOM(), GETHARD());

  section("Detection against an emulated Sios on COM3");
  for (int n = 1; n <= 9; ++n) ::setenv(("TAVIO32_COM" + std::to_string(n)).c_str(), "", 1);
  tavio::emu::PtyLink sios(tavio::emu::make_device("sios"));
  sios.bind("COM3");
  int32_t found = FINDHARD(1);
  std::printf("FINDHARD(1) = %d, GETHARD() = %d\n", found, GETHARD());
  for (int round = 0; round < 3; ++round) {
    if (round > 0) DELAY(500);
    std::printf("AIN(1..4) = %3d %3d %3d %3d\n", AIN(1), AIN(2), AIN(3), AIN(4));
  }
  std::printf("DOUT(0x5a) = %d, DIN() = %d\n", DOUT(0x5a), DIN());
  CLOSECOM();

  block_recording();
  return 0;
}
