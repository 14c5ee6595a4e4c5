#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kor {

// The file services the engine needs, with the Windows vocabulary the engine
// was designed against: a creation disposition, a share mode and a
// delete-on-close attribute. Every engine file access goes through here.

enum class TCreationDisposition {
  CreateAlways,  // create, or truncate an existing file to 0 bytes
  OpenExisting,  // fail when the file does not exist
  OpenAlways,    // open, creating an empty file when it does not exist
};

enum class TShareMode {
  // Others may read the file while it is open, but nobody else, in this
  // process or another, may open it for writing: the open takes an exclusive
  // advisory lock on the file, and a second open that finds the lock fails.
  ShareRead,
  // No lock: any number of openers.
  ShareReadWrite,
};

enum class TFileAttributes {
  Normal,
  // The file disappears when it is closed. On POSIX the name is removed as
  // soon as the file is open, so nothing is left behind even after a crash.
  DeleteOnClose,
};

using TOsFileHandle = int;
inline constexpr TOsFileHandle kNoOsFile = -1;

// Opens `name` for reading and writing. Returns kNoOsFile, with the thread's
// last error set, when the file cannot be opened or created or is locked by
// another writer.
TOsFileHandle OsOpenFile(const std::string& name, TCreationDisposition disposition,
                         TShareMode share, TFileAttributes attributes);
bool OsCloseFile(TOsFileHandle handle);

// The file's size in bytes, or -1 on failure.
int64_t OsFileSize(TOsFileHandle handle);

// Transfer `count` bytes at `offset`, continuing after partial transfers.
// Return the number of bytes moved (less than `count` only at the end of the
// file for a read), or -1 on failure.
int64_t OsReadAt(TOsFileHandle handle, void* buffer, size_t count, int64_t offset);
int64_t OsWriteAt(TOsFileHandle handle, const void* buffer, size_t count, int64_t offset);

bool OsSetFileSize(TOsFileHandle handle, int64_t size);
// Forces written data to the disk.
bool OsSyncFile(TOsFileHandle handle);

bool OsFileExists(const std::string& name);
bool OsDeleteFile(const std::string& name);
// Renames `from` to `to`, replacing `to` in one atomic step.
bool OsReplaceFile(const std::string& from, const std::string& to);

}  // namespace kor
