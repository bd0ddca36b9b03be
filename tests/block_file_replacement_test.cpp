// Replacing a file keeps what an ordinary overwrite keeps: symbolic links,
// permission bits and owner, FIFOs and devices (written in place, never
// replaced), the file behind /dev/stdout, and files in directories that take
// no temporary file. Every case runs through both writers: the raw data file
// and the table export.
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "block_support.h"
#include "test_support.h"

namespace tavio::test {
namespace {

enum class Writer { Raw, Table };
void PrintTo(Writer w, std::ostream *os) { *os << (w == Writer::Raw ? "raw data file" : "table"); }

std::vector<std::string> sorted_names(const std::filesystem::path &dir) {
  std::vector<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string link_text(const std::string &path) {
  std::error_code ec;
  return std::filesystem::read_symlink(path, ec).string();
}

bool is_link(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

struct stat stat_of(const std::string &path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// Everything readable from fd until the writer closes (or, non-blocking,
// until nothing is left).
std::string drain(int fd) {
  std::string out;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out.append(chunk, static_cast<size_t>(n));
  return out;
}

// Runs body in a child process that ends with its result as exit status.
int in_child(const std::function<int()> &body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs body in a child process as an ordinary user (as root: nobody); 10 if it cannot.
int as_user(const std::function<int()> &body) {
  return in_child([&] {
    const passwd *p = ::getpwnam("nobody");
    if (::geteuid() == 0 && (!p || ::setgroups(0, nullptr) || ::setgid(p->pw_gid) || ::setuid(p->pw_uid))) return 10;
    return body();
  });
}

class FileReplacement : public LibraryTest, public ::testing::WithParamInterface<Writer> {
protected:
  void SetUp() override {
    LibraryTest::SetUp();
    ::SETHARD(4);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>((i * 13 + 1) & 0xFF);
    // What the writer puts into a new plain file: every case must get it.
    std::string reference = dir.file("reference");
    ASSERT_TRUE(save(reference));
    expected = read_all(reference);
    new_file_mode = stat_of(reference).st_mode & 07777;
    ::unlink(reference.c_str());
  }
  bool save(const std::string &name) {
    std::string n = name;
    if (GetParam() == Writer::Raw) return ::DATENSPEICHERN(n.data(), raw.data()) == 30720;
    return ::TABELLESPEICHERN(n.data(), table.data()) == 1;
  }
  TempDir dir;
  std::vector<char> raw = std::vector<char>(30720);
  std::vector<char> table = table_recording(4, 2);
  std::string expected;
  mode_t new_file_mode = 0;
};

TEST_P(FileReplacement, LinkChainStaysAndTheFileAtItsEndIsReplaced) {
  std::filesystem::create_directory(dir.path() / "data");
  std::string file = dir.file("data/c.txt");
  write_all(file, "old");
  std::string b = dir.file("b"), a = dir.file("a");
  ASSERT_EQ(::symlink("data/c.txt", b.c_str()), 0); // relative to the link
  ASSERT_EQ(::symlink(b.c_str(), a.c_str()), 0);    // absolute
  ASSERT_TRUE(save(a));
  EXPECT_EQ(read_all(file), expected);
  EXPECT_TRUE(is_link(a));
  EXPECT_TRUE(is_link(b));
  EXPECT_EQ(link_text(a), b);
  EXPECT_EQ(link_text(b), "data/c.txt");
  EXPECT_EQ(sorted_names(dir.path()), (std::vector<std::string>{"a", "b", "data"}));
  EXPECT_EQ(sorted_names(dir.path() / "data"), std::vector<std::string>{"c.txt"}); // no temporary file left

  // A chain that never ends is refused and creates nothing.
  std::string x = dir.file("x"), y = dir.file("y");
  ASSERT_EQ(::symlink("y", x.c_str()), 0);
  ASSERT_EQ(::symlink("x", y.c_str()), 0);
  EXPECT_FALSE(save(x));
  EXPECT_EQ(sorted_names(dir.path()), (std::vector<std::string>{"a", "b", "data", "x", "y"}));
}

TEST_P(FileReplacement, DanglingLinkCreatesTheFileItNames) {
  std::string link = dir.file("link");
  ASSERT_EQ(::symlink("new.txt", link.c_str()), 0);
  ASSERT_TRUE(save(link));
  EXPECT_TRUE(is_link(link));
  EXPECT_EQ(read_all(dir.file("new.txt")), expected);
  EXPECT_EQ(stat_of(dir.file("new.txt")).st_mode & 07777, new_file_mode);
  EXPECT_EQ(sorted_names(dir.path()), (std::vector<std::string>{"link", "new.txt"}));
}

TEST_P(FileReplacement, ExistingFileKeepsPermissionsAndOwner) {
  std::string file = dir.file("data.txt");
  write_all(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
  const bool root = ::geteuid() == 0;
  if (root) { // someone else's file, as root may write it
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  }
  struct stat before = stat_of(file);
  ASSERT_TRUE(save(file));
  struct stat after = stat_of(file);
  EXPECT_EQ(read_all(file), expected);
  EXPECT_EQ(after.st_mode & 07777, 0604u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_NE(after.st_ino, before.st_ino); // replaced, not overwritten
  if (!root) {
    std::cout << "(not root: only the permission bits can be shown, the owner is ours anyway)\n";
  }
}

TEST_P(FileReplacement, DevNullIsWrittenInPlaceAndStaysADevice) {
  // As root a rename would put a regular file where /dev/null was.
  std::string link = dir.file("null");
  ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
  for (const std::string &name : {std::string("/dev/null"), link}) {
    EXPECT_TRUE(save(name)) << name;
    struct stat st = stat_of("/dev/null");
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << name;
    EXPECT_EQ(st.st_rdev, makedev(1, 3)) << name;
  }
  EXPECT_TRUE(is_link(link));
  for (const auto &e : std::filesystem::directory_iterator("/dev")) { // no temporary file
    EXPECT_NE(e.path().filename().string().rfind("null.", 0), 0u) << e.path();
  }
}

TEST_P(FileReplacement, FifoIsWrittenInPlaceAndWithoutAReaderFailsAtOnce) {
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(save(fifo)); // fits into the pipe's buffer of 64 KiB
  EXPECT_EQ(drain(reader), expected);
  ::close(reader);
  EXPECT_TRUE(S_ISFIFO(stat_of(fifo).st_mode));

  double t0 = now_ms();
  EXPECT_FALSE(save(fifo)); // nobody reads: no wait for a reader
  EXPECT_LT(now_ms() - t0, 1000.0);
  EXPECT_TRUE(S_ISFIFO(stat_of(fifo).st_mode));
  EXPECT_EQ(sorted_names(dir.path()), std::vector<std::string>{"fifo"});
}

TEST_P(FileReplacement, StandardOutputIsWrittenInPlace) {
  // A link built as /dev/stdout is: writing through /dev/stdout itself would
  // let a faulty writer replace the system's own link.
  std::string stdout_link = dir.file("stdout");
  ASSERT_EQ(::symlink("/proc/self/fd/1", stdout_link.c_str()), 0);
  // Into a pipe.
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(p[1], 1);
    ::_exit(save(stdout_link) ? 0 : 1);
  }
  ::close(p[1]);
  EXPECT_EQ(drain(p[0]), expected);
  ::close(p[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Into a file that the shell opened: the program's own output goes on
  // into the same file, so that file is written, not replaced.
  std::string out = dir.file("out.txt");
  int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ino_t inode = stat_of(out).st_ino;
  EXPECT_EQ(in_child([&] {
              ::dup2(fd, 1);
              return save(stdout_link) ? 0 : 1;
            }),
            0);
  ::close(fd);
  EXPECT_EQ(read_all(out), expected);
  EXPECT_EQ(stat_of(out).st_ino, inode);
  EXPECT_EQ(sorted_names(dir.path()), (std::vector<std::string>{"out.txt", "stdout"}));
  EXPECT_EQ(link_text(stdout_link), "/proc/self/fd/1");
}

TEST_P(FileReplacement, DirectoryWithoutRoomForATemporaryFileIsWrittenInPlace) {
  // A file that may be written in a directory that may not: written in
  // place; a file that may not be written either stays as it was. Root
  // writes into any directory, so a root test runs the writer as nobody.
  std::string open = dir.file("open.txt"), locked = dir.file("locked.txt");
  write_all(open, "old");
  write_all(locked, "old");
  ASSERT_EQ(::chmod(open.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  int status = as_user([&] {
    if (::access(open.c_str(), W_OK) != 0) return 11; // the temporary directory is out of nobody's reach
    int r = 0;
    if (!save(open)) r |= 1;
    if (save(locked)) r |= 2;
    return r;
  });
  ::chmod(dir.path().c_str(), 0755);
  if (status == 10 || status == 11) GTEST_SKIP() << "cannot run the writer as nobody here (status " << status << ")";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_all(open), expected);
  EXPECT_EQ(read_all(locked), "old");
  EXPECT_EQ(sorted_names(dir.path()), (std::vector<std::string>{"locked.txt", "open.txt"}));
}

TEST_P(FileReplacement, WriteProtectedFileStaysThoughTheDirectoryIsWritable) {
  // A write-protected file is never replaced: its own permission decides, as
  // for an overwrite, not the directory's that a rename needs; links too.
  std::string guarded = dir.file("guarded.txt"), open = dir.file("open.txt"), link = dir.file("link");
  write_all(guarded, "old");
  write_all(open, "old");
  ASSERT_EQ(::symlink("guarded.txt", link.c_str()), 0);
  ASSERT_EQ(::chmod(guarded.c_str(), 0444) | ::chmod(open.c_str(), 0666) | ::chmod(dir.path().c_str(), 0777), 0);
  int status = as_user([&] {
    if (::access(open.c_str(), W_OK) != 0) return 11; // the directory is out of nobody's reach
    return (save(guarded) ? 1 : 0) | (save(link) ? 2 : 0) | (save(open) ? 0 : 4);
  });
  if (status == 10 || status == 11) GTEST_SKIP() << "cannot run the writer as nobody here (status " << status << ")";
  EXPECT_EQ(status, 0) << "1, 2: the protected file was replaced; 4: the writable one was not";
  EXPECT_EQ(read_all(guarded), "old");
  EXPECT_EQ(stat_of(guarded).st_mode & 07777, 0444u);
  EXPECT_EQ(read_all(open), expected);
}

INSTANTIATE_TEST_SUITE_P(BothWriters, FileReplacement, ::testing::Values(Writer::Raw, Writer::Table),
                         [](const auto &info) { return info.param == Writer::Raw ? "Raw" : "Table"; });

TEST(FifoReplacement, ReaderThatGoesAwayFailsTheWriteWithoutKillingTheProgram) {
  // The default action of SIGPIPE ends the program: the library must not
  // let the signal through for a write of its own.
  TempDir dir;
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int status = in_child([&] {
    ::signal(SIGPIPE, SIG_DFL);
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0 || ::fcntl(reader, F_SETPIPE_SZ, 4096) < 0) return 10;
    std::thread gone([reader] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::close(reader);
    });
    std::vector<char> buffer(30720, 'x'); // more than the pipe holds
    ::SETHARD(4);
    int32_t r = ::DATENSPEICHERN(fifo.data(), buffer.data());
    gone.join();
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) return 2;
    return r == -1 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "128 + 13 is death by SIGPIPE";
  EXPECT_TRUE(S_ISFIFO(stat_of(fifo).st_mode));
}

} // namespace
} // namespace tavio::test
