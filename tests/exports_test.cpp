// No C++ exception leaves an export: programs written in C, Visual Basic or
// Delphi cannot catch one. A backend that throws from every call stands in
// for a platform that runs out of memory; each export must return its
// failure value instead.
#include <new>

#include "fake_backend.h"
#include "test_support.h"

namespace tavio::test {
namespace {

class ThrowingBackend : public FakeBackend {
public:
  platform::Handle open_device(const char *) override { throw std::bad_alloc(); }
  bool read(platform::Handle, void *, uint32_t, uint32_t *) override { throw std::bad_alloc(); }
  uint64_t now_ns() override { throw std::bad_alloc(); }
  int32_t file_open_read(const char *) override { throw std::bad_alloc(); }
  int32_t file_begin_replace(const char *) override { throw std::bad_alloc(); }
  std::string table_file_name(char *) override { throw std::bad_alloc(); }
  void show_message(const char *, const char *) override { throw std::bad_alloc(); }
};

class Exports : public LibraryTest {};

TEST_F(Exports, AnExceptionInsideBecomesTheFailureValue) {
  ThrowingBackend backend;
  std::string m = mode(3);
  EXPECT_EQ(OPENCOM(m.data()), 0);
  EXPECT_EQ(IX_OPENCOM(0, m.data()), 0);
  EXPECT_EQ(INITSIOS(3), 0);
  EXPECT_EQ(FINDHARD(0), 0);
  CLOSECOM(); // its 1 ms pause reads the clock
  EXPECT_EQ(DELAY(1), 0u);
  EXPECT_EQ(TIMEINIT(), 0u);
  EXPECT_EQ(TIMEREAD(), 0u);
  EXPECT_EQ(TIME(), 0.0);
  EXPECT_EQ(RC(), 0);
  EXPECT_EQ(VERSION(1), 122);
  char name[] = "/nonexistent/tavio32-exports-test";
  std::vector<char> buffer(30720, 0);
  EXPECT_EQ(DATENSPEICHERN(name, buffer.data()), -1);
  EXPECT_EQ(DATENLADEN(name, buffer.data()), -1);
  EXPECT_EQ(TABELLESPEICHERN(name, buffer.data()), -1);
  EXPECT_EQ(PROLADEN(name), -1);
}

TEST_F(Exports, AfterAnExceptionThePortStillWorks) {
  emu::PtyLink &link = attach_new<emu::EchoDevice>(3);
  (void)link;
  open_primary(3);
  {
    ThrowingBackend backend;
    EXPECT_EQ(READBYTE(), -1);
    EXPECT_EQ(SENDBYTE(1), 0); // the pause after the byte reads the clock
  }
  EXPECT_EQ(READBYTE(), 1); // the byte was sent before the pause threw
  EXPECT_EQ(SENDBYTE(2), 1);
  EXPECT_EQ(READBYTE(), 2);
}

} // namespace
} // namespace tavio::test
