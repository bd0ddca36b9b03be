// Block recordings as `tavio32 record` and `tavio32 serve` make them: the
// definition and its checks, and the files written from a buffer.
#pragma once

#include <string>
#include <vector>

#include "cli_common.h"
#include "cli_files.h"

namespace tavio::cli {

int header_size(int32_t code);
int buffer_size(int32_t code);

struct BlockPlan {
  int measurements = 0;
  std::vector<int> channels;
  int interval_ms = 0;
  int blocks = 1;
  int trigger_mode = 0; // 0: no trigger
  int trigger_value = 0;
  int mask() const;
  double total_ms() const { return double(measurements) * interval_ms * blocks; }
};
// Why interface `i` cannot record `p` (empty when it can).
std::string plan_problem(const Interface &i, const BlockPlan &p);

// The four files of a recording as `tavio32 record` writes them for `title`.
struct BlockFiles {
  std::string dat, txt, csv, svg;
  Recording recording;
};
// Writes the table, the CSV and the plot of a buffer; returns the recording.
Recording write_outputs(std::vector<char> &buffer, size_t valid, int32_t code, const std::string &txt,
                        const std::string &csv, const std::string &svg, const std::string &title,
                        CsvStyle style = CsvStyle::en);
// The same bytes in memory (the library's files go through a private
// temporary directory); false when they could not be made.
bool block_files(std::vector<char> &buffer, int32_t code, const std::string &title, BlockFiles &out,
                 std::string &error);

} // namespace tavio::cli
