// Files on Windows. A file is replaced only by a complete one: the writes go
// to a temporary file in the same directory, moved over the target at commit
// (MoveFileExA with replace), and the target's not-indexed attribute is put
// back on the new file. A read-only, hidden or system file is not replaced
// (-1), as creating over it fails. Where that route cannot work, the target is
// written in place, as an ordinary overwrite would: a device (NUL, CON, PRN,
// AUX, COMn, LPTn, with any directory or extension, or a name under \\.\),
// a file that another program holds open for reading and writing but not
// for deletion (a viewer), and a target whose temporary name would pass
// MAX_PATH.
#include "platform/win32/win32_backend.h"

#include <cstdio>
#include <cstring>

namespace tavio::platform {

namespace {

// Whether the name is a device rather than a file: the system gives the
// full name of a device in the device namespace.
bool device_name(const char *path) {
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  return n > 0 && n < sizeof full && std::strncmp(full, "\\\\.\\", 4) == 0;
}

// Whether another program holds the file open so that it can be written but
// neither renamed over nor deleted.
bool held_open(const char *path) {
  HANDLE h = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

int32_t Win32Backend::file_open_read(const char *path) {
  if (path == nullptr || *path == '\0') return -1;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const int32_t fh = to_library_handle(file);
  if (fh < 0) {
    CloseHandle(file);
    return -1;
  }
  return fh;
}

int32_t Win32Backend::file_read(int32_t fh, void *buffer, uint32_t n) {
  if (fh < 0) return -1;
  auto *out = static_cast<uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < n) {
    DWORD got = 0;
    if (!ReadFile(to_system_handle(fh), out + done, n - done, &got, nullptr))
      return done > 0 ? static_cast<int32_t>(done) : -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<int32_t>(done);
}

void Win32Backend::file_close(int32_t fh) {
  if (fh >= 0) CloseHandle(to_system_handle(fh));
}

int32_t Win32Backend::file_begin_replace(const char *path) {
  if (path == nullptr || *path == '\0') return -1;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  Replacement rep;
  rep.target = path;
  rep.attributes = attributes;
  rep.disk = !device_name(path);
  // A move over the file would need only the folder's permission. Creating
  // the file anew (CreateFile with CREATE_ALWAYS) fails for a read-only
  // file, and for a hidden or system one: a file protected so stays as it is.
  const DWORD protection = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (rep.disk && attributes != INVALID_FILE_ATTRIBUTES && (attributes & protection)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  rep.in_place = !rep.disk || (attributes != INVALID_FILE_ATTRIBUTES && held_open(path));
  // A name of our own beside the target: process id and a counter, created
  // only if it does not exist yet.
  static volatile LONG counter = 0;
  for (int attempt = 0; attempt < 100 && !rep.in_place && rep.file == INVALID_HANDLE_VALUE; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%lu-%ld.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<long>(InterlockedIncrement(&counter)));
    rep.temp = rep.target + suffix;
    if (rep.temp.size() >= MAX_PATH) {
      rep.in_place = true;
      break;
    }
    rep.file = CreateFileA(rep.temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (rep.file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return -1;
  }
  if (rep.in_place) {
    // A file is truncated once it is open (not created anew: that would
    // drop its attributes); a device is written as it stands.
    rep.file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           rep.disk ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (rep.file != INVALID_HANDLE_VALUE && rep.disk && !SetEndOfFile(rep.file)) {
      CloseHandle(rep.file);
      return -1;
    }
  }
  if (rep.file == INVALID_HANDLE_VALUE) return -1;
  const int32_t fh = to_library_handle(rep.file);
  if (fh < 0) {
    CloseHandle(rep.file);
    if (!rep.in_place) DeleteFileA(rep.temp.c_str());
    return -1;
  }
  locked(files_lock_, [&] { return replacements_[fh] = rep, 0; });
  return fh;
}

int32_t Win32Backend::file_write(int32_t fh, const void *buffer, uint32_t n) {
  return locked(files_lock_, [&]() -> int32_t {
    auto it = replacements_.find(fh);
    if (it == replacements_.end()) return -1;
    const auto *in = static_cast<const uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < n) {
      DWORD put = 0;
      if (!WriteFile(it->second.file, in + done, n - done, &put, nullptr) || put == 0) {
        it->second.failed = true;
        return done > 0 ? static_cast<int32_t>(done) : -1;
      }
      done += put;
    }
    return static_cast<int32_t>(done);
  });
}

bool Win32Backend::take_replacement(int32_t fh, Replacement &rep) {
  return locked(files_lock_, [&] {
    auto it = replacements_.find(fh);
    if (it == replacements_.end()) return false;
    rep = it->second;
    replacements_.erase(it);
    return true;
  });
}

bool Win32Backend::file_commit(int32_t fh) {
  Replacement rep;
  if (!take_replacement(fh, rep)) return false;
  // A device has nothing to flush to a disk.
  bool ok = !rep.failed && (!rep.disk || FlushFileBuffers(rep.file));
  ok = CloseHandle(rep.file) && ok;
  if (rep.in_place) return ok;
  if (ok) ok = MoveFileExA(rep.temp.c_str(), rep.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(rep.temp.c_str());
  const DWORD kept = FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (ok && rep.attributes != INVALID_FILE_ATTRIBUTES && (rep.attributes & kept))
    SetFileAttributesA(rep.target.c_str(), (rep.attributes & kept) | FILE_ATTRIBUTE_ARCHIVE);
  return ok;
}

void Win32Backend::file_abandon(int32_t fh) {
  Replacement rep;
  if (!take_replacement(fh, rep)) return;
  CloseHandle(rep.file);
  if (!rep.in_place) DeleteFileA(rep.temp.c_str());
}

} // namespace tavio::platform
