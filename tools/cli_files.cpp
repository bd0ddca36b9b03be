#include "cli_files.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "i18n.h"
#include "tavio32.h"

namespace tavio::cli {

Recording decode(const std::vector<char> &buffer, int header) {
  Recording r;
  char *b = const_cast<char *>(buffer.data());
  for (int i = 2; i <= 5; ++i)
    if (static_cast<uint8_t>(buffer[i]) != 0) r.channels.push_back(static_cast<uint8_t>(buffer[i]));
  r.measurements = MESSUNGEN(b);
  r.interval_ms = ZEITINTERVALL(b);
  r.blocks = BLOCKZAHL(b);
  const size_t k = r.channels.size();
  if (k == 0 || r.measurements <= 0 || r.blocks <= 0) return r;
  size_t lines = size_t(r.measurements) * size_t(r.blocks);
  lines = std::min(lines, (buffer.size() - size_t(header)) / k);
  r.rows.reserve(lines);
  for (size_t line = 0; line < lines; ++line) {
    std::vector<int> row(k);
    for (size_t c = 0; c < k; ++c) row[c] = static_cast<uint8_t>(buffer[size_t(header) + line * k + c]);
    r.rows.push_back(std::move(row));
  }
  return r;
}

static std::string number(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6g", v);
  return s;
}

CsvStyle csv_style(const std::string &name) { return name == "de" ? CsvStyle::de : CsvStyle::en; }

std::string csv_number(const char *printf_format, double v, CsvStyle style) {
  char s[64];
  std::snprintf(s, sizeof s, printf_format, v);
  if (style == CsvStyle::de)
    for (char *c = s; *c; ++c)
      if (*c == '.') *c = ',';
  return s;
}

const char *csv_start(CsvStyle style) { return style == CsvStyle::de ? "\xEF\xBB\xBF" : ""; }

std::string csv_text(const Recording &r, CsvStyle style) {
  const bool several = r.blocks > 1, de = style == CsvStyle::de;
  const std::string sep = de ? ";" : ",";
  std::string out = csv_start(style);
  out += several ? (de ? "Block;Zeit [ms]" : "block,time_ms") : (de ? "Zeit [ms]" : "time_ms");
  for (int c : r.channels) out += sep + (de ? "Kanal " : "channel ") + std::to_string(c);
  out += "\n";
  for (size_t i = 0; i < r.rows.size(); ++i) {
    if (several) out += std::to_string(r.block_of(i) + 1) + sep;
    out += csv_number("%.6g", r.time_ms(i), style);
    for (int v : r.rows[i]) out += sep + std::to_string(v);
    out += "\n";
  }
  return out;
}

bool write_csv(const Recording &r, const std::string &path, CsvStyle style) {
  return write_file(path, csv_text(r, style));
}

static std::string escape(const std::string &s) {
  std::string o;
  for (char c : s) {
    switch (c) {
    case '<': o += "&lt;"; break;
    case '>': o += "&gt;"; break;
    case '&': o += "&amp;"; break;
    case '"': o += "&quot;"; break;
    default: o += c;
    }
  }
  return o;
}

std::string svg_text(const Recording &r, const std::string &title) {
  // Plot area inside the margins; blocks follow each other on the time axis.
  const double W = 800, H = 420, left = 60, right = 150, top = 40, bottom = 50;
  const double pw = W - left - right, ph = H - top - bottom;
  const double span = std::max(1.0, double(r.rows.empty() ? 1 : r.rows.size() - 1) * r.interval_ms);
  auto x = [&](double t) { return left + t / span * pw; };
  auto y = [&](double v) { return top + ph - v / 255.0 * ph; };
  static const char *colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e"};

  std::string o = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(W) + "\" height=\"" + number(H) +
       "\" viewBox=\"0 0 " + number(W) + " " + number(H) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  o += "<title>" + escape(title) + "</title>\n";
  o += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  o += "<text x=\"" + number(left) + "\" y=\"22\" font-size=\"15\">" + escape(title) + "</text>\n";
  // Axes, ticks and grid.
  o += "<g class=\"axes\" stroke=\"black\" fill=\"none\">\n";
  o += "<line x1=\"" + number(left) + "\" y1=\"" + number(top + ph) + "\" x2=\"" + number(left + pw) + "\" y2=\"" +
       number(top + ph) + "\"/>\n";
  o += "<line x1=\"" + number(left) + "\" y1=\"" + number(top) + "\" x2=\"" + number(left) + "\" y2=\"" +
       number(top + ph) + "\"/>\n</g>\n<g class=\"ticks\" font-size=\"11\">\n";
  for (int v : {0, 64, 128, 192, 255}) {
    o += "<line x1=\"" + number(left - 4) + "\" y1=\"" + number(y(v)) + "\" x2=\"" + number(left + pw) + "\" y2=\"" +
         number(y(v)) + "\" stroke=\"#ddd\"/>\n";
    o += "<text x=\"" + number(left - 8) + "\" y=\"" + number(y(v) + 4) + "\" text-anchor=\"end\">" +
         std::to_string(v) + "</text>\n";
  }
  for (int i = 0; i <= 5; ++i) {
    const double t = span * i / 5;
    o += "<line x1=\"" + number(x(t)) + "\" y1=\"" + number(top + ph) + "\" x2=\"" + number(x(t)) + "\" y2=\"" +
         number(top + ph + 4) + "\" stroke=\"black\"/>\n";
    o += "<text x=\"" + number(x(t)) + "\" y=\"" + number(top + ph + 18) + "\" text-anchor=\"middle\">" +
         number(std::round(t)) + "</text>\n";
  }
  o += "</g>\n";
  o += "<text class=\"xlabel\" x=\"" + number(left + pw / 2) + "\" y=\"" + number(H - 10) +
       "\" text-anchor=\"middle\">" + escape(tr("time [ms]")) + "</text>\n";
  o += "<text class=\"ylabel\" x=\"15\" y=\"" + number(top + ph / 2) + "\" text-anchor=\"middle\" transform=\"rotate(-90 15 " +
       number(top + ph / 2) + ")\">" + escape(tr("value (0..255)")) + "</text>\n";
  // One line per channel, and the legend.
  for (size_t c = 0; c < r.channels.size(); ++c) {
    const char *colour = colours[c % 4];
    o += "<polyline class=\"channel\" data-channel=\"" + std::to_string(r.channels[c]) + "\" fill=\"none\" stroke=\"" +
         colour + "\" stroke-width=\"1.5\" points=\"";
    for (size_t i = 0; i < r.rows.size(); ++i) {
      if (i > 0) o += ' ';
      o += number(x(double(i) * r.interval_ms)) + "," + number(y(r.rows[i][c]));
    }
    o += "\"/>\n";
    const double ly = top + 10 + 20 * double(c);
    o += "<g class=\"legend\"><line x1=\"" + number(left + pw + 15) + "\" y1=\"" + number(ly) + "\" x2=\"" +
         number(left + pw + 40) + "\" y2=\"" + number(ly) + "\" stroke=\"" + colour +
         "\" stroke-width=\"3\"/><text x=\"" + number(left + pw + 46) + "\" y=\"" + number(ly + 4) + "\">" +
         escape(format(tr("channel %d"), r.channels[c])) + "</text></g>\n";
  }
  o += "</svg>\n";
  return o;
}

bool write_svg(const Recording &r, const std::string &path, const std::string &title) {
  return write_file(path, svg_text(r, title));
}

} // namespace tavio::cli
