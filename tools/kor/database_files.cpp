#include "tools/kor/database_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "engine/base/exceptions.h"
#include "engine/base/ref.h"

#include "engine/streams/stream_buffer.h"
#include "engine/streams/text_stream_reader.h"

#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

constexpr const char* kConfigFileName = "CONFIG.ZSR";
constexpr int32_t kChunk = 4096;

// The engine's token reader over `bytes`, the text of `fileName`.
Ref<TTextStreamReader> TextReader(const std::string& fileName, const std::string& bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw TKorError(fileName + ": too large");
  auto buffer = MakeRef<TStreamBuffer>(kChunk);
  buffer->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  return MakeRef<TTextStreamReader>(MakeRef<TStreamBufferInputStream>(std::move(buffer)), fileName);
}

// Runs `body`, turning a reader failure into a TKorError at the reader's
// place in its file.
template <typename TBody>
void Reading(const TTextStreamReader& reader, TBody&& body) {
  try {
    body();
  } catch (const EZException& e) {
    throw TKorError(reader.Position() + ": " + e.ClassName() +
                    " (the engine cannot read this file either)");
  }
}

void ReadFieldType(TTextStreamReader& reader, TRecordLayout& layout, std::string name) {
  switch (ReadKeyword(reader, {"INTEGER", "STRING", "DOUBLE"})) {
    case 1:
      return layout.AddField(std::move(name), TFieldKind::Integer,
                             ReadIntegerInRange(reader, 1, 10000));
    case 2:
      return layout.AddField(std::move(name), TFieldKind::String,
                             ReadIntegerInRange(reader, 1, 10000));
    default:
      return layout.AddField(std::move(name), TFieldKind::Double, 8);
  }
}

// TABLE name FILENAME 'file' RECORDTYPE FIELD name type ... END
//   UNIQUEINDEXES INDEX FIELD name comparator ... END ... END ENDTABLE
TTableDeclaration ReadTable(TTextStreamReader& reader) {
  TTableDeclaration table;
  table.Name = reader.ReadIdent();
  ReadKeyword(reader, {"FILENAME"});
  table.FileName = reader.ReadString();
  ReadKeyword(reader, {"RECORDTYPE"});
  ReadKeyword(reader, {"FIELD"});
  do {
    std::string name = reader.ReadIdent();
    ReadFieldType(reader, table.Declared, std::move(name));
  } while (ReadKeyword(reader, {"FIELD", "END"}) == 1);
  table.Declared.Freeze();
  ReadKeyword(reader, {"UNIQUEINDEXES"});
  while (ReadKeyword(reader, {"INDEX", "END"}) == 1) {
    std::vector<TIndexPart> parts;
    ReadKeyword(reader, {"FIELD"});
    do {
      std::string field = reader.ReadIdent();
      parts.push_back(TIndexPart{std::move(field), reader.ReadIdent()});
    } while (ReadKeyword(reader, {"FIELD", "END"}) == 1);
    table.UniqueIndexes.push_back(std::move(parts));
  }
  ReadKeyword(reader, {"ENDTABLE"});
  return table;
}

}  // namespace

TRecordLayout StoredLayout(const TRecordLayout& declared) {
  TRecordLayout stored;
  stored.AddField("!BEGTIME", TFieldKind::Integer, 8);
  stored.AddField("!ENDTIME", TFieldKind::Integer, 8);
  for (const TField& field : declared.AllFields())
    stored.AddField(field.Name, field.Kind, field.Size);
  stored.Freeze();
  return stored;
}

int32_t BlockSizeOf(const TRecordLayout& declared) {
  constexpr int32_t kStatusSize = 4;
  constexpr int32_t kMinBlockSize = 8;
  return std::max(StoredLayout(declared).RecordSize() + kStatusSize, kMinBlockSize);
}

std::string RecordTypeMismatch(const TDatabaseFiles& files) {
  for (const TTableDeclaration& table : files.Tables) {
    struct stat info {};
    if (stat(table.FileName.c_str(), &info) != 0) continue;  // the engine creates it
    const int64_t blockSize = BlockSizeOf(table.Declared);
    const int64_t rest = static_cast<int64_t>(info.st_size) % blockSize;
    if (rest == 0) continue;
    return table.FileName + ": " + std::to_string(rest) + " bytes after its last whole block of " +
           std::to_string(blockSize) + ": not written with the record type of " + table.Name +
           " in " + files.Settings.StructFileName +
           "; not opened, as the engine's recovery would drop its records";
  }
  return {};
}

std::string ReadFileBytes(const std::string& fileName) {
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TKorError(fileName + ": cannot open: " + strerror(errno));
  std::string bytes;
  char chunk[kChunk];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      throw TKorError(fileName + ": cannot read: " + strerror(error));
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

std::vector<TCounterValue> ReadCounterFile(const std::string& fileName) {
  std::vector<TCounterValue> counters;
  std::string bytes = ReadFileBytes(fileName);
  // An append cut short by a crash leaves zero bytes, which the engine drops.
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  Ref<TTextStreamReader> reader = TextReader(fileName, bytes);
  Reading(*reader, [&] {
    for (;;) {
      std::string name;
      try {
        name = reader->ReadIdent();
      } catch (const EReaderEof&) {
        // The end of the file where a record may start: the last record was whole.
        return;
      }
      counters.push_back(TCounterValue{std::move(name), reader->ReadInt64()});
    }
  });
  return counters;
}

TDatabaseFiles ReadDatabaseFiles() {
  TDatabaseFiles files;
  {
    Ref<TTextStreamReader> reader = TextReader(kConfigFileName, ReadFileBytes(kConfigFileName));
    Reading(*reader, [&] { files.Settings = ReadEngineSettings(*reader); });
  }
  const std::string& structure = files.Settings.StructFileName;
  Ref<TTextStreamReader> reader = TextReader(structure, ReadFileBytes(structure));
  Reading(*reader, [&] {
    for (;;) {
      switch (ReadKeyword(*reader, {"TABLE", "COMPFUNC", "END"})) {
        case 1:
          files.Tables.push_back(ReadTable(*reader));
          break;
        case 2:
          files.Comparators.push_back(reader->ReadIdent());
          if (ReadKeyword(*reader, {"INTEGERCOMPFUNC", "STRINGCOMPFUNC", "DOUBLECOMPFUNC"}) == 2) {
            reader->ReadString();
          }
          break;
        default:
          return;
      }
    }
  });
  return files;
}

}  // namespace kor::tool
