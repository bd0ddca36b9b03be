// Files on POSIX. A file is replaced only by a complete one: the writes go to
// a temporary file beside the target, renamed over it at commit. What an
// ordinary overwrite keeps is kept: a symbolic link stays a link and the file
// it points to is replaced; the file keeps its permission bits and, where the
// process may set them, its owner and group; a file that this user may not
// write is not replaced (-1); a name that is no regular file
// (a FIFO, a terminal, /dev/null, /dev/stdout) is written in place, as is a
// file whose directory takes no temporary file.
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavio::platform {

namespace {

constexpr int kMaxLinkHops = 40; // as the kernel's own limit

// Whether st lies on the /proc file system, whose links (/dev/stdout ends in
// /proc/self/fd/1) name open descriptors rather than paths.
bool on_proc(const struct stat &st) {
  static const dev_t proc_dev = [] {
    struct stat p;
    return ::stat("/proc", &p) == 0 ? p.st_dev : dev_t(-1);
  }();
  return st.st_dev == proc_dev;
}

// Where a replacement must go.
enum class Target { Replace, InPlace, Refused };

// Follows the chain of symbolic links from path to the name that a rename
// must replace (a dangling link gives the missing file it points to).
// Names that lead through /proc are written in place through the name given.
Target resolve(const char *path, std::string &target) {
  target = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? Target::Replace : Target::Refused;
    if (!S_ISLNK(st.st_mode)) return Target::Replace;
    if (on_proc(st)) {
      target = path;
      return Target::InPlace;
    }
    if (hops == kMaxLinkHops) return Target::Refused;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<size_t>(n) >= link.size()) return Target::Refused;
    link.resize(static_cast<size_t>(n));
    size_t slash = target.rfind('/');
    if (link.front() == '/' || slash == std::string::npos) target = link;
    else target = target.substr(0, slash + 1) + link;
  }
}

// Opens the file itself for writing; for a FIFO without a reader this fails
// at once instead of waiting for one.
int open_in_place(const char *path, bool truncate) {
  int fd = ::open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (truncate ? O_TRUNC : 0));
  if (fd < 0) return -1;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A write into a pipe whose reader has gone raises SIGPIPE, which would end
// the host program. The signal is held back for the write, and one that the
// write raised is taken before the mask is put back.
class SigpipeHeld {
public:
  SigpipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeHeld() {
    if (raised && !was_pending_) {
      timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  bool raised = false;

private:
  sigset_t pipe_, old_;
  bool was_pending_ = false;
};

} // namespace

int32_t PosixBackend::file_open_read(const char *path) {
  if (path == nullptr) return -1;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int32_t PosixBackend::file_read(int32_t fh, void *buffer, uint32_t n) {
  auto *out = static_cast<uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fh, out + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return done > 0 ? static_cast<int32_t>(done) : -1;
    if (r == 0) break;
    done += static_cast<uint32_t>(r);
  }
  return static_cast<int32_t>(done);
}

void PosixBackend::file_close(int32_t fh) {
  if (fh >= 0) ::close(fh);
}

int32_t PosixBackend::file_begin_replace(const char *path) {
  if (path == nullptr || *path == '\0') return -1;
  Replacement rep;
  Target how = resolve(path, rep.target);
  if (how == Target::Refused) return -1;
  struct stat st;
  bool exists = ::stat(rep.target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return -1;
  if (exists && !S_ISREG(st.st_mode)) how = Target::InPlace; // a FIFO or a device
  // A rename needs only the directory's permission; an overwrite needs the
  // file's own. A file that its owner write-protected stays as it is, as
  // opening it for writing would have failed.
  if (how == Target::Replace && exists && ::faccessat(AT_FDCWD, rep.target.c_str(), W_OK, AT_EACCESS) != 0) return -1;
  if (how == Target::Replace) {
    rep.temp = rep.target + ".XXXXXX";
    rep.fd = ::mkostemp(rep.temp.data(), O_CLOEXEC);
    if (rep.fd >= 0) {
      if (exists) {
        // The owner first: a change of owner clears the set-id bits.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(rep.fd, st.st_uid, st.st_gid) != 0)
          (void)!::fchown(rep.fd, static_cast<uid_t>(-1), st.st_gid); // at least the group, where allowed
        ::fchmod(rep.fd, st.st_mode & 07777);
      } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(rep.fd, 0666 & ~mask);
      }
    } else if (exists) {
      how = Target::InPlace; // no temporary file here, but the file may be writable
      rep.temp.clear();
    } else {
      return -1;
    }
  }
  if (how == Target::InPlace) {
    rep.in_place = true;
    rep.regular = exists && S_ISREG(st.st_mode);
    rep.fd = open_in_place(rep.target.c_str(), rep.regular);
    if (rep.fd < 0) return -1;
  }
  int32_t fd = rep.fd;
  std::lock_guard<std::mutex> lock(files_mutex_);
  replacements_[fd] = std::move(rep);
  return fd;
}

int32_t PosixBackend::file_write(int32_t fh, const void *buffer, uint32_t n) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  auto it = replacements_.find(fh);
  if (it == replacements_.end()) return -1;
  std::optional<SigpipeHeld> held; // only a pipe or a socket can raise it
  if (!it->second.regular) held.emplace();
  const auto *in = static_cast<const uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fh, in + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (held) held->raised = r < 0 && errno == EPIPE;
      it->second.failed = true;
      return done > 0 ? static_cast<int32_t>(done) : -1;
    }
    done += static_cast<uint32_t>(r);
  }
  return static_cast<int32_t>(done);
}

bool PosixBackend::file_commit(int32_t fh) {
  Replacement rep;
  {
    std::lock_guard<std::mutex> lock(files_mutex_);
    auto it = replacements_.find(fh);
    if (it == replacements_.end()) return false;
    rep = std::move(it->second);
    replacements_.erase(it);
  }
  // A FIFO or a device has nothing to flush to a disk.
  bool ok = !rep.failed && (!rep.regular || ::fsync(rep.fd) == 0);
  ok = (::close(rep.fd) == 0) && ok;
  if (rep.in_place) return ok;
  if (ok) ok = ::rename(rep.temp.c_str(), rep.target.c_str()) == 0;
  if (!ok) ::unlink(rep.temp.c_str());
  return ok;
}

void PosixBackend::file_abandon(int32_t fh) {
  Replacement rep;
  {
    std::lock_guard<std::mutex> lock(files_mutex_);
    auto it = replacements_.find(fh);
    if (it == replacements_.end()) return;
    rep = std::move(it->second);
    replacements_.erase(it);
  }
  ::close(rep.fd);
  if (!rep.in_place) ::unlink(rep.temp.c_str());
}

} // namespace tavio::platform
