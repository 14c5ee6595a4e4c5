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
