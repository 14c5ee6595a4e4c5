#pragma once

#include <cstdio>
#include <optional>

#include "tools/kor/database.h"
#include "tools/kor/options.h"

namespace kor::tool {

// The tool's commands. Each writes its report to standard output and
// returns the exit code (kExitOk, or kExitFindings when it found refused
// records or problems); failures raise TKorError.

// tables, comparators, counters, describe.
int RunCatalogueCommand(TDatabase& database, const TOptions& options);
int RunDump(TDatabase& database, const TOptions& options);
// `in` is the CSV file, opened before the tool entered the database
// directory; `size` its size in bytes (-1 when unknown).
int RunLoad(TDatabase& database, const TOptions& options, FILE* in, int64_t size);
int RunCheck(TDatabase& database, const TOptions& options);

}  // namespace kor::tool
