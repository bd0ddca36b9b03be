#include "cli_blocks.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

int header_size(int32_t code) { return code == 4 ? 16 : 10; }
int buffer_size(int32_t code) { return code == 4 ? 30720 : 6146; }

int BlockPlan::mask() const {
  int m = 0;
  for (int c : channels) m |= 1 << (c - 1);
  return m;
}

std::string plan_problem(const Interface &i, const BlockPlan &p) {
  if (!i.blocks) return tr("block recordings work on the Sios and the Zelle only");
  if (p.channels.empty()) return tr("a recording needs at least one channel");
  for (int c : p.channels)
    if (c < 1 || c > 4) return format(tr("channel %d does not exist: channels are 1 to 4"), c);
  for (size_t a = 0; a < p.channels.size(); ++a)
    for (size_t b = a + 1; b < p.channels.size(); ++b)
      if (p.channels[a] == p.channels[b]) return format(tr("channel %d is named twice"), p.channels[a]);
  if (p.measurements < 1 || p.measurements > 65535) return tr("measurements are 1 to 65535");
  if (p.interval_ms < 1 || p.interval_ms > 65535) return tr("the interval is 1 to 65535 ms");
  if (p.blocks < 1 || p.blocks > 255) return tr("blocks are 1 to 255");
  if (p.trigger_mode) {
    if (i.code != 4) return tr("triggers exist on the Sios only");
    if (p.trigger_mode < 1 || p.trigger_mode > 6 || p.trigger_value < 0 || p.trigger_value > 255)
      return tr("a trigger has a mode 1 to 6 and a value 0 to 255");
  }
  const int header = header_size(i.code), size = buffer_size(i.code);
  const long values = long(p.measurements) * long(p.channels.size()) * p.blocks;
  if (values > size - header)
    return format(tr("the %s holds %d values, not %ld: fewer measurements, channels or blocks"), i.title, size - header,
                  values);
  return "";
}

Recording write_outputs(std::vector<char> &buffer, size_t valid, int32_t code, const std::string &txt,
                        const std::string &csv, const std::string &svg, const std::string &title,
                        CsvStyle style) {
  std::string name = txt; // the export may convert the name it is given in place
  if (!txt.empty() && TABELLESPEICHERN(name.data(), buffer.data()) < 0)
    fail(cannot_write(txt, tr("check the directory and free space")));
  std::vector<char> view(buffer.begin(), buffer.begin() + long(valid));
  Recording r = decode(view, header_size(code));
  if (!csv.empty() && !write_csv(r, csv, style)) fail(cannot_write(csv, std::strerror(errno)));
  if (!svg.empty() && !write_svg(r, svg, title)) fail(cannot_write(svg, std::strerror(errno)));
  return r;
}

static bool slurp(const std::string &path, std::string &out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

bool block_files(std::vector<char> &buffer, int32_t code, const std::string &title, BlockFiles &out,
                 std::string &error) {
  const std::string dir = make_temporary_directory(error);
  if (dir.empty()) return false;
  const std::string base = dir + "/r";
  bool ok = DATENSPEICHERN(const_cast<char *>((base + ".dat").c_str()), buffer.data()) >= 0;
  try {
    if (ok) out.recording = write_outputs(buffer, buffer.size(), code, base + ".txt", base + ".csv", base + ".svg", title);
  } catch (const Failure &f) {
    ok = false;
    error = f.message;
  }
  ok = ok && slurp(base + ".dat", out.dat) && slurp(base + ".txt", out.txt) && slurp(base + ".csv", out.csv) &&
       slurp(base + ".svg", out.svg);
  if (!ok && error.empty()) error = format(tr("cannot write the recording's files in %s"), dir.c_str());
  remove_directory(dir, {"r.dat", "r.txt", "r.csv", "r.svg"});
  return ok;
}

} // namespace tavio::cli
