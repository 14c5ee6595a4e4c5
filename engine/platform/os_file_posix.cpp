#include "engine/platform/os_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kor {

namespace {

// Closes a descriptor whose open failed half-way, keeping the error that
// made it fail.
TOsFileHandle FailOpen(int fd) {
  int error = errno;
  close(fd);
  errno = error;
  return kNoOsFile;
}

// True when `name` still refers to the open file: the name may have been
// renamed over (a counter file is replaced that way) between open and lock,
// and a lock on a file that no longer has the name protects nothing.
bool StillNamed(int fd, const std::string& name) {
  struct stat opened {};
  struct stat named {};
  if (fstat(fd, &opened) != 0 || stat(name.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

constexpr int kOpenAttempts = 8;

}  // namespace

TOsFileHandle OsOpenFile(const std::string& name, TCreationDisposition disposition,
                         TShareMode share, TFileAttributes attributes) {
  int flags = O_RDWR | O_CLOEXEC;
  if (disposition != TCreationDisposition::OpenExisting) flags |= O_CREAT;
  for (int attempt = 1;; ++attempt) {
    int fd = open(name.c_str(), flags, 0644);
    if (fd < 0) return kNoOsFile;
    if (share == TShareMode::ShareRead) {
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) return FailOpen(fd);
      if (!StillNamed(fd, name)) {
        close(fd);
        if (attempt == kOpenAttempts) {
          errno = EWOULDBLOCK;
          return kNoOsFile;
        }
        continue;  // open whatever carries the name now
      }
    }
    // Truncation waits for the lock: a file in use by another writer is
    // never emptied under it.
    if (disposition == TCreationDisposition::CreateAlways && ftruncate(fd, 0) != 0) {
      return FailOpen(fd);
    }
    if (attributes == TFileAttributes::DeleteOnClose && unlink(name.c_str()) != 0) {
      return FailOpen(fd);
    }
    return fd;
  }
}

bool OsCloseFile(TOsFileHandle handle) { return close(handle) == 0; }

int64_t OsFileSize(TOsFileHandle handle) {
  struct stat info {};
  if (fstat(handle, &info) != 0) return -1;
  return info.st_size;
}

int64_t OsReadAt(TOsFileHandle handle, void* buffer, size_t count, int64_t offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(handle, bytes + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t OsWriteAt(TOsFileHandle handle, const void* buffer, size_t count, int64_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(handle, bytes + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool OsSetFileSize(TOsFileHandle handle, int64_t size) {
  return ftruncate(handle, static_cast<off_t>(size)) == 0;
}

bool OsSyncFile(TOsFileHandle handle) { return fsync(handle) == 0; }

bool OsFileExists(const std::string& name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0;
}

bool OsDeleteFile(const std::string& name) { return unlink(name.c_str()) == 0; }

bool OsReplaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace kor
