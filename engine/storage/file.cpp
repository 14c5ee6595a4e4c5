#include "engine/storage/file.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

namespace kor {

TFile::TFile(const std::string& fileName, TCreationDisposition disposition,
             TFileAttributes attributes)
    : FileName(fileName) {
  Handle = OsOpenFile(fileName, disposition, TShareMode::ShareRead, attributes);
  if (Handle == kNoOsFile) {
    EFileOpenError error;
    error.SetInputPosition(fileName);  // an operator needs to know which file
    throw error;
  }
  FileSize = OsFileSize(Handle);
  FailIf(FileSize < 0);
}

TFile::~TFile() {
  if (Handle != kNoOsFile) FailUnless(OsCloseFile(Handle));
}

int32_t TFile::Read(void* buffer, int32_t count) {
  FailIf(buffer == nullptr || count < 0 || FilePosition + count > FileSize);
  FailUnless(OsReadAt(Handle, buffer, static_cast<size_t>(count), FilePosition) == count);
  FilePosition += count;
  return count;
}

int32_t TFile::Write(const void* buffer, int32_t count) {
  FailIf(count < 0 || FilePosition + count > FileSize);
  FailUnless(OsWriteAt(Handle, buffer, static_cast<size_t>(count), FilePosition) == count);
  FilePosition += count;
  return count;
}

void TFile::Seek(int64_t position) {
  FailIf(position < 0 || position > FileSize);
  FilePosition = position;
}

void TFile::SetSize(int64_t newSize) {
  FailIf(newSize < 0 || newSize > kMaxFileSize);
  FailUnless(OsSetFileSize(Handle, newSize));
  FileSize = newSize;
  FilePosition = newSize;
}

void TFile::Sync() { FailUnless(OsSyncFile(Handle)); }

TFileInputStream::TFileInputStream(Ref<TFile> file) : File(std::move(file)) {}

int32_t TFileInputStream::Read(void* buffer, int32_t count) {
  FailIf(count <= 0);
  int64_t left = File->Size() - File->Position();
  if (left <= 0) throw EInputStreamEof();
  int32_t n = left < count ? static_cast<int32_t>(left) : count;
  return File->Read(buffer, n);
}

}  // namespace kor
