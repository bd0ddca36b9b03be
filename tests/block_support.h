// Helpers shared by the block measurement tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "block_mode.h"
#include "pty_link.h"

namespace tavio::test {

// Everything the device received, once the link has been quiet for 40 ms.
inline std::vector<uint8_t> settled_bytes(const emu::PtyLink &link) { return link.settled_bytes(); }

// The bytes behind the link reset at the start of `bytes`, which must be the
// reset's ten zero bytes.
inline std::vector<uint8_t> after_reset(const std::vector<uint8_t> &bytes) {
  size_t zeros = 0;
  while (zeros < bytes.size() && zeros < 10 && bytes[zeros] == 0) ++zeros;
  EXPECT_EQ(zeros, 10u) << "link reset of " << zeros << " zero bytes";
  return {bytes.begin() + static_cast<std::ptrdiff_t>(zeros), bytes.end()};
}

inline std::vector<uint8_t> repeat(uint8_t byte, size_t n) { return std::vector<uint8_t>(n, byte); }
inline std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A fresh directory under the temporary directory, removed with everything
// in it at the end.
class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavio32-block-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string &name) const { return (path_ / name).string(); }
  const std::filesystem::path &path() const { return path_; }
  // The names in the directory.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
    return out;
  }

private:
  std::filesystem::path path_;
};

inline std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_all(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A sampler whose values tell channel and time apart: channel c at t ms
// reads (c x 60 + t / 10) modulo 256.
inline uint8_t ramp_sampler(int channel, uint64_t t_ms) {
  return static_cast<uint8_t>((static_cast<uint64_t>(channel) * 60 + t_ms / 10) & 0xFF);
}

// The recording of three measurements of channels 1 and 3 at 20 ms, in a
// Sios (hard 4) or a Zelle buffer, with `blocks` blocks.
inline std::vector<char> table_recording(int32_t hard, int blocks) {
  std::vector<char> b(hard == 4 ? 30720 : 6146, 0);
  auto set = [&](size_t i, int v) { b[i] = static_cast<char>(v); };
  set(0, 0), set(1, 3);
  set(2, 1), set(3, 0), set(4, 3), set(5, 0);
  const size_t data = hard == 4 ? 16 : 10;
  if (hard == 4) set(10, 0), set(11, 18), set(15, blocks);
  else set(6, 0), set(7, 18), set(9, blocks);
  const int values[] = {10, 11, 20, 21, 30, 31, 40, 41, 50, 51, 60, 61};
  for (size_t i = 0; i < 12; ++i) set(data + i, values[i]);
  return b;
}

} // namespace tavio::test

#include "fake_backend.h"

namespace tavio::test {

// File operations that fail on demand: a short write, a failing write, or a
// commit that does not go through. Everything else is the platform's own.
class FailingFiles : public FakeBackend {
public:
  enum class Fault { None, ShortWrite, WriteError, Commit };
  Fault fault = Fault::None;
  int writes = 0;
  // The fault strikes from this write on (counted from 1).
  int from_write = 1;

  int32_t file_write(int32_t fh, const void *b, uint32_t n) override {
    ++writes;
    if (writes >= from_write) {
      if (fault == Fault::ShortWrite) return platform::native_backend().file_write(fh, b, n / 2);
      if (fault == Fault::WriteError) return -1;
    }
    return platform::native_backend().file_write(fh, b, n);
  }
  bool file_commit(int32_t fh) override {
    if (fault == Fault::Commit) {
      platform::native_backend().file_abandon(fh);
      return false;
    }
    return platform::native_backend().file_commit(fh);
  }
};

} // namespace tavio::test

