// The tavio32 command's view of a block recording: the values decoded from a
// block buffer, and the CSV and SVG files written from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli_system.h" // write_file

namespace tavio::cli {

struct Recording {
  std::vector<int> channels;           // channel numbers, in buffer order
  int interval_ms = 0;                 // time between measurements
  int measurements = 0;                // per block
  int blocks = 0;                      // blocks the header describes
  std::vector<std::vector<int>> rows;  // one row per measurement, one value per channel
  // Time of row i within its block, and its block.
  double time_ms(size_t i) const { return measurements > 0 ? double(i % measurements) * interval_ms : 0; }
  int block_of(size_t i) const { return measurements > 0 ? int(i / measurements) : 0; }
};

// Decodes a block buffer of `size` bytes with a header of `header` bytes.
// The header fields come from the library's header functions (the caller
// selects the interface first); rows stop at the end of the buffer.
Recording decode(const std::vector<char> &buffer, int header);

// How CSV is written: en with `,` and decimal points, the default; de ready
// for German spreadsheets: a byte order mark, `;`, decimal commas and the
// header row in German.
enum class CsvStyle { en, de };
// The CSV style named `name` (de or en).
CsvStyle csv_style(const std::string &name);
// A number of a CSV row in `style`.
std::string csv_number(const char *printf_format, double v, CsvStyle style);
// The byte order mark that starts a file in `style` ("" for en).
const char *csv_start(CsvStyle style);

// The CSV and SVG files' text.
std::string csv_text(const Recording &r, CsvStyle style = CsvStyle::en);
std::string svg_text(const Recording &r, const std::string &title);

// Both return false (errno set) when the file could not be written; a file
// is written under a temporary name and renamed over the target when complete.
bool write_csv(const Recording &r, const std::string &path, CsvStyle style = CsvStyle::en);
bool write_svg(const Recording &r, const std::string &path, const std::string &title);


} // namespace tavio::cli
