#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/kor/record_sinks.h"

namespace kor::tool {

// The command line:
//
//   kor [--connect HOST:PORT] COMMAND [DIR] ARGUMENTS [OPTIONS]
//
//   tables DIR                 the tables           } aligned text, or
//   comparators DIR            the comparators      } JSON with --json
//   counters DIR               the counters         }
//   describe DIR TABLE         a table's fields     }
//   dump DIR TABLE             a table's records: --order FIELD,...
//                              --where FIELD=VALUE (repeatable) --limit N,
//                              --csv or --json, --progress
//   load DIR TABLE FILE.csv    insert records from CSV: --commit-partial,
//                              --progress
//   check DIR                  a table file against its indexes
//
// DIR is the database directory, opened in this process; with --connect the
// engine is a korserver's and DIR is left out, except for check, which
// reads the table files in DIR beside the server.
struct TOptions {
  std::string Command;
  std::string Dir;
  std::string Connect;  // HOST:PORT, or empty for in-process
  std::string Table;
  std::string File;
  TOutputFormat Format = TOutputFormat::Aligned;
  std::vector<std::string> Order;
  std::vector<std::pair<std::string, std::string>> Where;
  int64_t Limit = -1;  // none
  bool CommitPartial = false;
  bool Progress = false;
};

// TKorError (the usage line included) for a command line that is not one
// of the forms above.
TOptions ParseOptions(int argc, char** argv);

extern const char* const kUsage;

}  // namespace kor::tool
