// tavio32 table: a raw block file converted to a table, CSV or plot.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli_blocks.h"
#include "cli_common.h"
#include "commands.h"
#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

namespace {

std::string stem(const std::string &path) {
  const size_t slash = path.rfind('/'), dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
}

int cmd_table(const std::string &file, const std::string &name, std::string txt, const std::string &csv,
              const std::string &svg) {
  const Interface &i = interface_by_name(name);
  if (!i.blocks) fail(tr("block files come from the Sios and the Zelle only"), kExitUsage);
  if (txt.empty() && csv.empty() && svg.empty()) txt = stem(file) + ".txt";
  std::vector<char> buffer(size_t(buffer_size(i.code)), 0);
  SETHARD(i.code);
  const int32_t got = DATENLADEN(const_cast<char *>(file.c_str()), buffer.data());
  if (got < 0) fail(format(tr("cannot read %s: %s"), file.c_str(), std::strerror(errno)));
  if (got < header_size(i.code)) fail(format(tr("%s is too short to be a %s block file"), file.c_str(), i.title));
  Recording r = write_outputs(buffer, size_t(got), i.code, txt, csv, svg, format(tr("%s recording %s"), i.title, stem(file).c_str()));
  std::printf(tr("%s: %zu measurements of %zu channels every %d ms\n"), file.c_str(), r.rows.size(), r.channels.size(),
              r.interval_ms);
  for (const std::string *f : std::initializer_list<const std::string *>{&txt, &csv, &svg})
    if (!f->empty()) std::printf(tr("Wrote %s\n"), f->c_str());
  return 0;
}

struct TableOptions {
  std::string file, name, txt, csv, svg;
};

} // namespace

Subcommand add_table(CLI::App &app) {
  auto o = std::make_shared<TableOptions>();
  auto *table = app.add_subcommand("table", tr("Convert a raw block file to a table, CSV or plot"));
  table->add_option("FILE", o->file, tr("Raw block file (.dat)"))->required();
  table->add_option("--interface", o->name, tr("sios or zelle"))->required()->check(CLI::IsMember({"sios", "zelle"}));
  table->add_option("-o", o->txt, tr("Text table to write (default FILE.txt when nothing else is asked for)"));
  table->add_option("--csv", o->csv, tr("CSV file to write"));
  table->add_option("--plot", o->svg, tr("SVG plot to write"));
  return {table, [o] { return cmd_table(o->file, o->name, o->txt, o->csv, o->svg); }};
}

} // namespace tavio::cli
