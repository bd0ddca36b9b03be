// tavio32 record: a block recording, read back and written as NAME.dat/.txt/.csv/.svg.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli_blocks.h"
#include "cli_common.h"
#include "cli_system.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

struct ReadoutProgress {
  bool live;
  double last = 0;
  int32_t done = 0, expected = 0;
};

int on_readout(int32_t done, int32_t expected, void *context) {
  auto *p = static_cast<ReadoutProgress *>(context);
  p->done = done;
  p->expected = expected;
  if (p->live && (done == expected || now_ms() - p->last > 50)) {
    p->last = now_ms();
    progress(N_("reading"), double(done) / expected, format(tr("%d of %d bytes"), done, expected));
  }
  return g_interrupted ? 0 : 1;
}

struct RecordOptions {
  std::string interface;
  int port = 0;
  int measurements = 0;
  std::vector<int> channels;
  int interval = 0;
  int blocks = 1;
  std::string trigger;
  std::string out;
  std::string csv_style = "en";
};

int cmd_record(const RecordOptions &o) {
  const Interface &probe = interface_by_name(o.interface);
  if (!probe.blocks) fail(tr("block recordings work on the Sios and the Zelle only"), kExitUsage);
  BlockPlan plan;
  plan.measurements = o.measurements;
  plan.channels = o.channels;
  plan.interval_ms = o.interval;
  plan.blocks = o.blocks;
  if (!o.trigger.empty()) {
    if (probe.code != 4) fail(tr("triggers exist on the Sios only"), kExitUsage);
    if (std::sscanf(o.trigger.c_str(), "%d:%d", &plan.trigger_mode, &plan.trigger_value) != 2 ||
        plan.trigger_mode < 1 || plan.trigger_mode > 6 || plan.trigger_value < 0 || plan.trigger_value > 255)
      fail(tr("--trigger takes MODE:VALUE, MODE 1 to 6 and VALUE 0 to 255 (e.g. 1:128)"), kExitUsage);
  }
  const std::string problem = plan_problem(probe, plan);
  if (!problem.empty()) fail(problem, kExitUsage);
  const int header = header_size(probe.code), size = buffer_size(probe.code);

  const Interface &i = open_interface(o.interface, o.port);
  const bool live = terminal();
  catch_interrupts();
  BLOCKDEF(o.measurements, plan.mask(), o.interval);
  if (plan.trigger_mode) BLOCKTRIGGER(plan.trigger_value, plan.trigger_mode);
  const double block_ms = double(o.measurements) * o.interval;
  const double total_ms = block_ms * o.blocks;
  std::printf(tr("Recording %d x %zu values every %d ms%s on the %s on %s (%.1f s)\n"), o.measurements, o.channels.size(),
              o.interval, o.blocks > 1 ? format(tr(" in %d blocks"), o.blocks).c_str() : "", i.title,
              com(o.port).c_str(), total_ms / 1e3);
  std::fflush(stdout);
  const double start = now_ms();
  for (int b = 0; b < o.blocks && !g_interrupted; ++b) {
    BLOCKSTART();
    const double end = start + block_ms * (b + 1);
    while (!g_interrupted && now_ms() < end) {
      if (live) {
        const double t = now_ms() - start;
        progress(N_("recording"), t / total_ms, format(tr("%d of %d s"), int(t / 1e3), int(total_ms / 1e3)));
      }
      sleep_until(std::min(end, now_ms() + 100));
    }
  }
  if (live) progress(N_("recording"), 1, tr("done")), std::printf("\n");
  if (g_interrupted) {
    CLOSECOM();
    std::printf("%s\n", tr("Stopped before the readout: nothing was read."));
    return kExitInterrupted;
  }

  std::vector<char> buffer(size_t(size), 0);
  ReadoutProgress p{live};
  tavio32_set_readout_progress(on_readout, &p);
  const int32_t got = BLOCKEIN(buffer.data(), o.blocks);
  tavio32_set_readout_progress(nullptr, nullptr);
  if (live) std::printf("\n");
  if (got < 0) {
    const std::string removed = g_interrupted ? "" : removed_problem(o.port, GETCOM());
    CLOSECOM();
    if (p.done == 0 && !removed.empty()) fail(removed);
    if (p.done == 0 && !g_interrupted) not_answering(i, o.port);
    if (!removed.empty()) std::fprintf(stderr, "tavio32: %s\n", removed.c_str());
    const std::string partial = o.out + ".partial.dat";
    const size_t kept = size_t(header) + size_t(p.done);
    if (!write_file(partial, std::string(buffer.data(), kept)))
      fail(cannot_write(partial, std::strerror(errno)));
    std::printf(tr("%s after %d of %d bytes; what was read is in %s\n"),
                g_interrupted ? tr("Stopped") : removed.empty() ? tr("The interface fell silent") : tr("The readout ended"),
                p.done, p.expected, partial.c_str());
    return g_interrupted ? kExitInterrupted : kExitFailure;
  }
  if (DATENMENGE(buffer.data()) == 0) {
    CLOSECOM();
    fail(format(tr("the %s holds no recording: check the trigger and the definition"), i.title));
  }
  const std::string dat = o.out + ".dat";
  if (DATENSPEICHERN(const_cast<char *>(dat.c_str()), buffer.data()) < 0) {
    CLOSECOM();
    fail(cannot_write(dat, tr("check the directory and free space")));
  }
  Recording r = write_outputs(buffer, buffer.size(), i.code, o.out + ".txt", o.out + ".csv", o.out + ".svg",
                              format(tr("%s recording %s"), i.title, o.out.c_str()), csv_style(o.csv_style));
  CLOSECOM();
  std::printf(tr("Read %d bytes: %zu measurements of %zu channels\n"), got, r.rows.size(), r.channels.size());
  std::printf(tr("Wrote %s.dat %s.txt %s.csv %s.svg\n"), o.out.c_str(), o.out.c_str(), o.out.c_str(), o.out.c_str());
  return 0;
}

} // namespace

Subcommand add_record(CLI::App &app) {
  auto rec = std::make_shared<RecordOptions>();
  auto *record = app.add_subcommand("record", tr("Record a block of measurements and write NAME.dat/.txt/.csv/.svg"));
  record->add_option("--interface", rec->interface, tr("sios or zelle"))->required()->check(CLI::IsMember({"sios", "zelle"}));
  record->add_option("--port", rec->port, tr("COM port number"))->required()->check(CLI::Range(0, 9));
  record->add_option("--measurements", rec->measurements, tr("Measurements per block"))->required()->check(CLI::Range(1, 65535));
  record->add_option("--channels", rec->channels, tr("Channels, e.g. 1,3"))->required()->delimiter(',');
  record->add_option("--interval", rec->interval, tr("Interval in ms"))->required()->check(CLI::Range(1, 65535));
  record->add_option("--blocks", rec->blocks, tr("Blocks (default 1)"))->check(CLI::Range(1, 255));
  record->add_option("--trigger", rec->trigger, tr("Sios trigger MODE:VALUE (MODE 1..6)"));
  record->add_option("--out", rec->out, tr("Base name of the files written"))->required();
  record->add_option("--csv-style", rec->csv_style,
                     tr("en: `,` and decimal points (the default); de: for German spreadsheets, `;`, decimal commas, "
                        "a German header row and a byte order mark"))
      ->check(CLI::IsMember({"de", "en"}));
  record->footer(tr("Ctrl-C during the readout keeps what was read in NAME.partial.dat."));
  return {record, [rec] { return cmd_record(*rec); }};
}

} // namespace tavio::cli
