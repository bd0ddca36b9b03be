// tavio32 read: analog and digital inputs, live or as CSV rows.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli_common.h"
#include "cli_files.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

struct ReadOptions {
  std::string interface;
  int port = 0;
  bool detect = false;
  std::vector<int> channels;
  bool digital = false;
  double every = 100;
  long count = 0;
  std::string csv;
  std::string csv_style = "en";
};

int cmd_read(ReadOptions o, bool channels_given) {
  if (!channels_given) o.channels = o.digital ? std::vector<int>{} : std::vector<int>{1, 2, 3, 4};
  for (int c : o.channels)
    if (c < 1 || c > 4) fail(format(tr("channel %d does not exist: channels are 1 to 4"), c), kExitUsage);
  if (o.every < 1) fail(tr("--every needs at least 1 ms"), kExitUsage);
  const Interface *iface = nullptr;
  int port = o.port;
  if (!o.interface.empty()) {
    iface = &open_interface(o.interface, o.port);
  } else if (o.detect) {
    const int32_t code = FINDHARD(0);
    iface = interface_by_code(code);
    port = port_of_primary();
    if (!iface) std::fprintf(stderr, "tavio32: %s\n", tr("no interface answered: reading the simulation"));
  }
  const std::string where = iface ? format(tr("%s on %s"), iface->title, com(port).c_str()) : tr("the simulation");

  FILE *csv = nullptr;
  if (!o.csv.empty()) {
    csv = std::fopen(o.csv.c_str(), "wb"); // the same bytes on every system
    if (!csv) fail(format(tr("cannot write %s: %s"), o.csv.c_str(), std::strerror(errno)));
  }
  const bool live = terminal();
  if (!live && !csv) csv = stdout;
  const CsvStyle style = csv_style(o.csv_style);
  const bool de = style == CsvStyle::de;
  const char sep = de ? ';' : ',';
  if (csv) {
    std::fprintf(csv, "%s%s", csv_start(style), de ? "Zeit [ms]" : "time_ms");
    for (int c : o.channels) std::fprintf(csv, de ? ";Kanal %d" : ",channel %d", c);
    if (o.digital) std::fprintf(csv, de ? ";Digital" : ",digital");
    std::fprintf(csv, "\n");
    std::fflush(csv);
  }
  catch_interrupts();
  if (live) std::printf(tr("Reading %s every %g ms; Ctrl-C ends\n"), where.c_str(), o.every);
  const double start = now_ms();
  bool drawn = false;
  for (long n = 0; o.count == 0 || n < o.count; ++n) {
    if (!sleep_until(start + double(n) * o.every)) break;
    const double t = now_ms() - start;
    std::vector<int> values;
    for (int c : o.channels) values.push_back(AIN(c));
    int din = o.digital ? DIN() : 0;
    // A silent interface answers -1 (the Zelle 0, which cannot be told apart).
    bool silent = iface && ((o.digital && din < 0) || std::any_of(values.begin(), values.end(), [](int v) { return v < 0; }));
    if (silent) {
      if (csv && csv != stdout) std::fclose(csv);
      not_answering(*iface, port);
    }
    if (csv) {
      std::fprintf(csv, "%s", csv_number("%.1f", t, style).c_str());
      for (int v : values) std::fprintf(csv, "%c%d", sep, v);
      if (o.digital) std::fprintf(csv, "%c%d", sep, din);
      std::fprintf(csv, "\n");
      std::fflush(csv);
    }
    if (live) {
      const size_t lines = o.channels.size() + (o.digital ? 1 : 0);
      if (drawn) std::printf("\x1b[%zuA", lines);
      for (size_t i = 0; i < o.channels.size(); ++i) {
        const int v = std::clamp(values[i], 0, 255), full = v * 40 / 255;
        std::printf("\r%-9s  %3d  [%s%s]\x1b[K\n", format(tr("channel %d"), o.channels[i]).c_str(), values[i], std::string(size_t(full), '#').c_str(),
                    std::string(size_t(40 - full), ' ').c_str());
      }
      if (o.digital) {
        std::string bits;
        for (int b = 7; b >= 0; --b) bits += (din >> b) & 1 ? '1' : '0';
        std::printf("\r%-9s  %3d  %s\x1b[K\n", tr("digital"), din, bits.c_str());
      }
      std::fflush(stdout);
      drawn = true;
    }
  }
  if (csv && csv != stdout) std::fclose(csv);
  if (iface) CLOSECOM();
  return 0;
}

} // namespace

Subcommand add_read(CLI::App &app) {
  auto ro = std::make_shared<ReadOptions>();
  auto *read = app.add_subcommand("read", tr("Read analog and digital inputs, live or as CSV rows (time in ms)"));
  add_interface_choice(read, ro->interface, ro->port, ro->detect);
  auto *rc = read->add_option("--channels", ro->channels, tr("Analog channels, e.g. 1,2 (default 1,2,3,4)"))->delimiter(',');
  read->add_flag("--digital", ro->digital, tr("Read the digital input too (alone without --channels)"));
  read->add_option("--every", ro->every, tr("Period in ms (default 100)"))->check(CLI::PositiveNumber);
  read->add_option("--count", ro->count, tr("Samples to take (default: until Ctrl-C)"))->check(CLI::NonNegativeNumber);
  read->add_option("--csv", ro->csv, tr("Write CSV rows to FILE"));
  read->add_option("--csv-style", ro->csv_style,
                   tr("en: `,` and decimal points (the default); de: for German spreadsheets, `;`, decimal commas, "
                      "a German header row and a byte order mark"))
      ->check(CLI::IsMember({"de", "en"}));
  read->footer(tr("Without --interface or --detect the library's simulation is read."));
  return {read, [ro, rc] { return cmd_read(*ro, rc->count() > 0); }};
}

} // namespace tavio::cli
