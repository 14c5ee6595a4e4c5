#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/protocol/engine_settings.h"

#include "tools/kor/record_layout.h"

namespace kor::tool {

// What a database directory declares, read from its configuration file and
// the structure file it names without opening anything for writing, so it
// can be read beside a running engine (and in a read-only directory). The
// engine reads the same files when it opens; this is the part of them the
// protocol does not show: the table files and the unique indexes.

struct TIndexPart {
  std::string Field;
  std::string Comparator;
};

struct TTableDeclaration {
  std::string Name;
  std::string FileName;  // as written, relative to the database directory
  TRecordLayout Declared;
  std::vector<std::vector<TIndexPart>> UniqueIndexes;  // in declaration order
};

struct TDatabaseFiles {
  TEngineSettings Settings;
  std::vector<std::string> Comparators;  // names, in declaration order
  std::vector<TTableDeclaration> Tables;
};

// The layout of a table's stored records (the block payload): !BEGTIME and
// !ENDTIME, 8 bytes each, then the declared fields, then the null bitmap
// of them all.
TRecordLayout StoredLayout(const TRecordLayout& declared);
// The block size of a table file: the stored record and its status word,
// at least 8 bytes.
int32_t BlockSizeOf(const TRecordLayout& declared);

// A table file whose size is not a whole number of its blocks was not
// written with the record type the structure file declares (the file does
// not record its own). The engine would open it anyway, and its start-up
// recovery would read the misplaced bytes as times and drop the records
// they seem to end, so such a file must not be opened. Returns a message
// naming the first such file, or empty.
std::string RecordTypeMismatch(const TDatabaseFiles& files);

// Reads "CONFIG.ZSR" and the structure file in the current directory.
// Raises TKorError naming the file (and line) that cannot be read.
TDatabaseFiles ReadDatabaseFiles();

struct TCounterValue {
  std::string Name;
  int64_t Value = 0;  // the next value the counter hands out, as the file holds it
};

// The counters of a counter file (identifiers and "$" hexadecimal values),
// read-only. While an engine runs, a counter's file value may be one ahead
// of the one it hands out next.
std::vector<TCounterValue> ReadCounterFile(const std::string& fileName);

// The whole of a file, read-only; TKorError when it cannot be read.
std::string ReadFileBytes(const std::string& fileName);

}  // namespace kor::tool
