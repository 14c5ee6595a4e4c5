#include "tools/kor/table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/base/numeric.h"

namespace kor::tool {

namespace {

constexpr int32_t kMinBlockSize = 8;

}  // namespace

TTableFile::TTableFile(std::string fileName, int32_t recordSize)
    : Name(std::move(fileName)), BlockBytes(std::max(recordSize + 4, kMinBlockSize)) {
  Fd = open(Name.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) throw TTableFileError(Name, std::string("cannot open: ") + strerror(errno));
  struct stat info {};
  if (fstat(Fd, &info) != 0)
    throw TTableFileError(Name, std::string("cannot read: ") + strerror(errno));
  Size = info.st_size;
  if (BlockCount() >= 1) {
    ReadAt(0, 4);
    Head = DecodeWord(Buffer.data());
  }
}

TTableFile::~TTableFile() {
  if (Fd >= 0) close(Fd);
}

int32_t TTableFile::DecodeWord(const uint8_t* p) { return DecodeInt32(p); }

void TTableFile::ReadAt(int64_t offset, size_t count) {
  if (Buffer.size() < count) Buffer.resize(count);
  size_t done = 0;
  while (done < count) {
    const ssize_t n =
        pread(Fd, Buffer.data() + done, count - done, static_cast<off_t>(offset) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw TTableFileError(Name, std::string("cannot read: ") + strerror(errno));
    // The file shrank under us: the engine never shrinks a table file.
    if (n == 0)
      throw TTableFileError(
          Name, "the file ended at byte " + std::to_string(offset + static_cast<int64_t>(done)));
    done += static_cast<size_t>(n);
  }
}

void TTableFile::ReadFreeHeader(int64_t n, int32_t& status, int32_t& next) {
  ReadAt(n * BlockBytes, 8);
  status = DecodeWord(Buffer.data());
  next = DecodeWord(Buffer.data() + 4);
}

}  // namespace kor::tool
