// Files on POSIX. A file is replaced only by a complete one: the writes go to
// a temporary file in the same directory, renamed over the target at commit.
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavio::platform {

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
  if (std::strlen(path) + 16 >= sizeof rep.temp) return -1;
  std::snprintf(rep.target, sizeof rep.target, "%s", path);
  struct stat st;
  mode_t mode = 0666;
  if (::stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return -1;
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode &= ~mask;
  }
  std::snprintf(rep.temp, sizeof rep.temp, "%s.XXXXXX", path);
  int fd = ::mkostemp(rep.temp, O_CLOEXEC);
  if (fd < 0) return -1;
  ::fchmod(fd, mode);
  rep.fd = fd;
  std::lock_guard<std::mutex> lock(files_mutex_);
  replacements_[fd] = rep;
  return fd;
}

int32_t PosixBackend::file_write(int32_t fh, const void *buffer, uint32_t n) {
  std::lock_guard<std::mutex> lock(files_mutex_);
  auto it = replacements_.find(fh);
  if (it == replacements_.end()) return -1;
  const auto *in = static_cast<const uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fh, in + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
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
    rep = it->second;
    replacements_.erase(it);
  }
  bool ok = !rep.failed && ::fsync(rep.fd) == 0;
  ok = (::close(rep.fd) == 0) && ok;
  if (ok) ok = ::rename(rep.temp, rep.target) == 0;
  if (!ok) ::unlink(rep.temp);
  return ok;
}

void PosixBackend::file_abandon(int32_t fh) {
  Replacement rep;
  {
    std::lock_guard<std::mutex> lock(files_mutex_);
    auto it = replacements_.find(fh);
    if (it == replacements_.end()) return;
    rep = it->second;
    replacements_.erase(it);
  }
  ::close(rep.fd);
  ::unlink(rep.temp);
}

} // namespace tavio::platform
