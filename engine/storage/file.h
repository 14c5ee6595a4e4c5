#pragma once

#include <cstdint>
#include <string>

#include "engine/platform/os_file.h"

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/stream.h"

namespace kor {

// One operating-system file opened for reading and writing, with its size
// and the current position cached. Reads and writes move exactly the bytes
// asked for and never go past the current size: a file grows only through
// SetSize. While it is open nobody else can open the file for writing
// (ShareRead), in this process or another; readers may.
//
// Sizes and offsets are 64-bit, so no computation wraps; the engine's files
// stay below 2^31 bytes (kMaxFileSize), the limit of its 32-bit block
// numbers and offsets, and callers check it before they grow a file.
class TFile final : public TRCObject {
 public:
  static constexpr int64_t kMaxFileSize = INT32_MAX;

  // Raises EFileOpenError when the file cannot be opened or created, or when
  // another writer holds it.
  TFile(const std::string& fileName, TCreationDisposition disposition,
        TFileAttributes attributes = TFileAttributes::Normal);
  ~TFile() override;

  const std::string& Name() const { return FileName; }
  int64_t Size() const { return FileSize; }
  int64_t Position() const { return FilePosition; }

  // REQUIRES: Position() + count <= Size(); a broken bound is fatal.
  // Transfers exactly `count` bytes at Position() and advances it.
  int32_t Read(void* buffer, int32_t count);
  int32_t Write(const void* buffer, int32_t count);
  // REQUIRES: 0 <= position <= Size().
  void Seek(int64_t position);
  // Truncates or extends the file and leaves Position() at newSize.
  void SetSize(int64_t newSize);
  // Forces the written data to the disk.
  void Sync();

 private:
  std::string FileName;
  TOsFileHandle Handle = kNoOsFile;
  int64_t FileSize = 0;
  int64_t FilePosition = 0;
};

// Reads a file from its current position to its end.
class TFileInputStream final : public TInputStream {
 public:
  explicit TFileInputStream(Ref<TFile> file);
  int32_t Read(void* buffer, int32_t count) override;

 private:
  Ref<TFile> File;
};

}  // namespace kor
