// check: every table file read in block order, against every unique index
// of its table walked through the engine.
//
// With the database in this process the table files are read twice: before
// the engine opens (the state the last engine left: free-list head, free
// list, block statuses, versions of unfinished transactions), and after,
// once the engine's start-up recovery has run and its indexes are built,
// for the records themselves. Over a connection the files are read once,
// beside the running server; its header word then reads -1 and the free
// list is only in the server's memory, so it is not checked.
//
// A record of the file is a version the next transaction sees: committed
// (!BEGTIME > 0) and not ended, or ended by a transaction not committed.
// Each unique index walked in one transaction must hold exactly those
// records (compared as sorted lists of 64-bit hashes of their bytes), in
// its key order, each key once. Anything else is a problem, and the exit code is kExitFindings.

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/numeric.h"

#include "tools/kor/catalogue.h"
#include "tools/kor/commands.h"
#include "tools/kor/field_values.h"
#include "tools/kor/key_order.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/table_file.h"
#include "tools/kor/text_escape.h"

namespace kor::tool {

namespace {

constexpr int32_t kStatusFree = 0;
constexpr int32_t kStatusUsed = 1;
constexpr int32_t kOpenMark = -1;
constexpr int32_t kTimeFields = 2;  // !BEGTIME, !ENDTIME before the declared fields
constexpr int32_t kWalkPage = 1024;
// Instances of one kind of problem shown before the rest is only counted.
constexpr int64_t kShown = 5;

uint64_t HashRecord(const uint8_t* record, size_t size) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ record[i]) * 1099511628211ull;
  return hash;
}

std::string KeyText(const TRecordLayout& layout, const uint8_t* record,
                    const std::vector<TKeyPart>& order) {
  std::string text;
  for (const TKeyPart& part : order) {
    const int32_t field = part.Field - 1;
    if (!text.empty()) text += ", ";
    AppendDisplayText(text, layout.Field(field).Name);
    text += '=';
    const uint8_t* bytes = layout.FieldBytes(record, field);
    if (layout.IsNull(record, field)) {
      text += "NULL";
    } else if (layout.Field(field).Kind == TFieldKind::String) {
      text += '\'';
      AppendDisplayText(text, StringBytes(bytes, layout.Field(field).Size));
      text += '\'';
    } else if (layout.Field(field).Kind == TFieldKind::Double) {
      AppendDouble(text, bytes);
    } else {
      AppendInteger(text, bytes, layout.Field(field).Size);
    }
  }
  return text;
}

std::string IndexName(const std::vector<TIndexPart>& parts) {
  std::string text;
  for (const TIndexPart& part : parts)
    text += (text.empty() ? "" : ", ") + part.Field + " " + part.Comparator;
  return "(" + text + ")";
}

std::string BlockList(const std::vector<int64_t>& blocks, int64_t total) {
  std::string text;
  for (int64_t block : blocks) text += (text.empty() ? "" : ", ") + std::to_string(block);
  if (total > static_cast<int64_t>(blocks.size())) {
    text += " and " + std::to_string(total - static_cast<int64_t>(blocks.size())) + " more";
  }
  return text;
}

// The findings about one table, printed under its name once it is done.
class TReport {
 public:
  void Problem(const std::string& file, const std::string& text) {
    ++Problems;
    Lines.push_back("  problem: " + file + ": " + text);
  }
  void Note(const std::string& file, const std::string& text) {
    Lines.push_back("  note: " + file + ": " + text);
  }
  void Line(const std::string& text) { Lines.push_back("  " + text); }
  int64_t ProblemCount() const { return Problems; }
  void Print() const {
    for (const std::string& line : Lines) printf("%s\n", line.c_str());
  }

 private:
  std::vector<std::string> Lines;
  int64_t Problems = 0;
};

// A partial block at the end: the file was not written with this record
// type (RecordTypeMismatch).
void CheckSize(TReport& report, const TTableFile& file) {
  if (file.TrailingBytes() == 0) return;
  report.Problem(file.FileName(), std::to_string(file.TrailingBytes()) +
                                      " bytes after the last whole block of " +
                                      std::to_string(file.BlockSize()) +
                                      ": not written with the structure file's record type");
}

// The file as the last engine left it (before this check's engine opens it).
void CheckClosedFile(TReport& report, TTableFile& file) {
  const std::string& name = file.FileName();
  CheckSize(report, file);
  const int64_t blocks = file.BlockCount();
  if (blocks < 1) return report.Note(name, "no header block yet; the engine creates it");
  std::vector<int32_t> statuses(static_cast<size_t>(blocks), kStatusUsed);
  int64_t unfinished = 0;
  std::vector<int64_t> oddBlocks;
  int64_t oddCount = 0;
  file.ForEachBlock([&](int64_t block, int32_t status, const uint8_t* payload) {
    statuses[static_cast<size_t>(block)] = status;
    if (status == kStatusUsed) {
      const int64_t begin = DecodeInt64(payload);
      const int64_t end = DecodeInt64(payload + 8);
      if (begin <= 0 || end != 0) ++unfinished;
    } else if (status != kStatusFree) {
      if (oddCount++ < kShown) oddBlocks.push_back(block);
    }
  });
  if (oddCount > 0) {
    report.Problem(name,
                   std::to_string(oddCount) +
                       " blocks with a status neither 1 (in use) nor 0 (free), counted as free: " +
                       BlockList(oddBlocks, oddCount));
  }
  if (unfinished > 0) {
    report.Note(name, std::to_string(unfinished) +
                          " versions of unfinished or ended transactions, which the engine's "
                          "recovery drops or reopens");
  }

  const int32_t head = file.HeadWord();
  if (head == kOpenMark) {
    return report.Note(name,
                       "not closed cleanly (or open in another engine); the engine "
                       "rebuilds its free list");
  }
  if (head < 0 || head >= blocks) {
    return report.Problem(name, "free-list head " + std::to_string(head) +
                                    " lies outside the file's blocks 1.." +
                                    std::to_string(blocks - 1));
  }
  // Walk the list: every link inside the file, every block on it free, no
  // block twice; then every free block must be on it.
  std::vector<bool> onList(static_cast<size_t>(blocks), false);
  int64_t from = 0;
  for (int32_t block = head; block != 0;) {
    if (block < 0 || block >= blocks) {
      return report.Problem(name, "the free list links from block " + std::to_string(from) +
                                      " to " + std::to_string(block) + ", outside the file");
    }
    if (onList[static_cast<size_t>(block)]) {
      return report.Problem(name, "the free list loops back to block " + std::to_string(block));
    }
    int32_t status = 0;
    int32_t next = 0;
    file.ReadFreeHeader(block, status, next);
    if (status != kStatusFree) {
      return report.Problem(name, "the free list reaches block " + std::to_string(block) +
                                      ", whose status is " + std::to_string(status));
    }
    onList[static_cast<size_t>(block)] = true;
    from = block;
    block = next;
  }
  int64_t lost = 0;
  for (int64_t block = 1; block < blocks; ++block) {
    if (statuses[static_cast<size_t>(block)] != kStatusUsed && !onList[static_cast<size_t>(block)])
      ++lost;
  }
  if (lost > 0) {
    report.Problem(name, std::to_string(lost) + " free blocks are not on the free list");
  }
}

// The file's versions as the engine serves them.
struct TCensus {
  int64_t Versions = 0;
  int64_t Free = 0;
  // (hash of the record as a view record, block) of each current version.
  std::vector<std::pair<uint64_t, int64_t>> Records;
};

TCensus TakeCensus(TTableFile& file, const TRecordLayout& declared, const TRecordLayout& stored) {
  TCensus census;
  std::vector<uint8_t> view(static_cast<size_t>(declared.RecordSize()));
  file.ForEachBlock([&](int64_t block, int32_t status, const uint8_t* payload) {
    if (status != kStatusUsed) {
      ++census.Free;
      return;
    }
    ++census.Versions;
    // The times are read at their offsets whatever their null bits say, as
    // the engine reads them.
    const int64_t begin = DecodeInt64(payload);
    const int64_t end = DecodeInt64(payload + 8);
    const bool endedUncommitted = end < 0;
    if (begin <= 0 || (end != 0 && !endedUncommitted)) return;
    std::fill(view.begin(), view.end(), 0);
    for (int32_t i = 0; i < declared.FieldCount(); ++i) {
      if (stored.IsNull(payload, i + kTimeFields)) continue;
      std::memcpy(declared.FieldBytes(view.data(), i), stored.FieldBytes(payload, i + kTimeFields),
                  static_cast<size_t>(declared.Field(i).Size));
      declared.SetPresent(view.data(), i);
    }
    census.Records.emplace_back(HashRecord(view.data(), view.size()), block);
  });
  std::sort(census.Records.begin(), census.Records.end());
  return census;
}

class TTableChecker {
 public:
  TTableChecker(TReport& report, TKorClient& client, const TCatalogue& catalogue,
                const TTableDeclaration& declaration, const TTableInfo& table)
      : Report(report),
        Client(client),
        Catalogue(catalogue),
        Declaration(declaration),
        Table(table),
        Stored(StoredLayout(table.Layout)) {}

  void Run(bool inProcess);

 private:
  void WalkIndex(int32_t transaction, const std::vector<TIndexPart>& index, const TCensus& census);

  TReport& Report;
  TKorClient& Client;
  const TCatalogue& Catalogue;
  const TTableDeclaration& Declaration;
  const TTableInfo& Table;
  const TRecordLayout Stored;
};

void TTableChecker::Run(bool inProcess) {
  const std::string& name = Declaration.FileName;
  TTableFile file(name, Stored.RecordSize());
  if (!inProcess) {
    // No earlier reading: the size and the statuses are checked here.
    CheckSize(Report, file);
    int64_t odd = 0;
    file.ForEachBlock([&](int64_t, int32_t status, const uint8_t*) {
      if (status != kStatusUsed && status != kStatusFree) ++odd;
    });
    if (odd > 0) {
      Report.Problem(name,
                     std::to_string(odd) + " blocks with a status neither 1 (in use) nor 0 (free)");
    }
  }
  const TCensus census = TakeCensus(file, Table.Layout, Stored);
  Report.Line("file: " + std::to_string(file.BlockCount()) + " blocks of " +
              std::to_string(file.BlockSize()) + " bytes, " + std::to_string(census.Versions) +
              " versions, " + std::to_string(census.Records.size()) + " records, " +
              std::to_string(census.Free) + " free blocks");
  if (Declaration.UniqueIndexes.empty()) Report.Line("no unique index");
  const int32_t transaction = Client.BeginTransaction();
  for (const std::vector<TIndexPart>& index : Declaration.UniqueIndexes) {
    WalkIndex(transaction, index, census);
  }
  Client.RollbackTransaction(transaction);
}

void TTableChecker::WalkIndex(int32_t transaction, const std::vector<TIndexPart>& index,
                              const TCensus& census) {
  const std::string& name = Declaration.FileName;
  const std::string indexName = "unique index " + IndexName(index);
  const std::optional<std::vector<TKeyPart>> order = IndexOrder(Catalogue, Table, index);
  if (!order) {
    return Report.Problem(
        name, indexName + " names a field or comparator that the engine does not serve");
  }
  const TKeyOrder keyOrder(Catalogue, Table.Layout, *order);
  const int32_t view = OpenView(Client, Catalogue, Table, transaction, *order);
  int32_t status = Client.MoveToFirst(view);
  const size_t size = static_cast<size_t>(Table.Layout.RecordSize());
  std::vector<uint8_t> previous(size);
  std::vector<uint64_t> hashes;
  int64_t duplicates = 0;
  int64_t disorders = 0;
  while (status == 0) {
    status = Client.FetchForward(view, kWalkPage, [&](const uint8_t* record) {
      if (!hashes.empty()) {
        const int comparison = keyOrder.Compare(previous.data(), record, keyOrder.PartCount());
        if (comparison == 0 && duplicates++ < kShown) {
          Report.Problem(name, indexName + " holds more than one record with " +
                                   KeyText(Table.Layout, record, *order));
        } else if (comparison > 0 && disorders++ < kShown) {
          Report.Problem(name, indexName + " gives " + KeyText(Table.Layout, record, *order) +
                                   " after " + KeyText(Table.Layout, previous.data(), *order));
        }
      }
      hashes.push_back(HashRecord(record, size));
      std::memcpy(previous.data(), record, size);
    });
  }
  Client.CloseTable(view);
  if ((status & kFailed) != 0)
    return Report.Problem(name, indexName + ": the engine refused to fetch");

  // The index's records against the file's, as two sorted multisets.
  std::sort(hashes.begin(), hashes.end());
  std::vector<int64_t> missing;  // blocks of records the index lacks
  int64_t missingCount = 0;
  int64_t extraCount = 0;
  size_t i = 0;
  size_t j = 0;
  while (i < census.Records.size() || j < hashes.size()) {
    if (j == hashes.size() || (i < census.Records.size() && census.Records[i].first < hashes[j])) {
      if (missingCount++ < kShown) missing.push_back(census.Records[i].second);
      ++i;
    } else if (i == census.Records.size() || hashes[j] < census.Records[i].first) {
      ++extraCount;
      ++j;
    } else {
      ++i;
      ++j;
    }
  }
  if (missingCount > 0) {
    Report.Problem(name, indexName + " lacks " + std::to_string(missingCount) +
                             " records of the file, in blocks " + BlockList(missing, missingCount));
  }
  if (extraCount > 0) {
    Report.Problem(name, indexName + " gives " + std::to_string(extraCount) +
                             " records that the file does not hold");
  }
  std::string verdict = indexName + ": " + std::to_string(hashes.size()) + " records";
  if (duplicates > 0) {
    verdict +=
        ", " + std::to_string(duplicates) + (duplicates == 1 ? " key repeated" : " keys repeated");
  }
  if (disorders > 0) verdict += ", " + std::to_string(disorders) + " out of order";
  if (missingCount == 0 && extraCount == 0) verdict += ", the same as the file's";
  Report.Line(verdict);
}

}  // namespace

int RunCheck(TDatabase& database, const TOptions& /*options*/) {
  const TDatabaseFiles& files = *database.Files();
  const bool inProcess = database.InProcess();
  std::vector<TReport> reports(files.Tables.size());
  if (inProcess) {
    // Before the engine opens: the files as the last engine left them.
    for (size_t t = 0; t < files.Tables.size(); ++t) {
      const TTableDeclaration& table = files.Tables[t];
      try {
        TTableFile file(table.FileName, StoredLayout(table.Declared).RecordSize());  // read-only
        CheckClosedFile(reports[t], file);
      } catch (const TTableFileError& e) {
        reports[t].Problem(table.FileName, "before the engine opened it: " + e.Reason());
      }
    }
  }
  if (const std::string mismatch = RecordTypeMismatch(files); !mismatch.empty()) {
    // Opening would cost that file its records: report what the files show.
    int64_t problems = 0;
    for (size_t t = 0; t < files.Tables.size(); ++t) {
      printf("table %s (%s)\n", files.Tables[t].Name.c_str(), files.Tables[t].FileName.c_str());
      reports[t].Print();
      problems += reports[t].ProblemCount();
    }
    printf("check: %lld problem%s; the engine was not opened: %s\n",
           static_cast<long long>(problems), problems == 1 ? "" : "s", mismatch.c_str());
    return kExitFindings;
  }
  TKorClient& client = database.Open();
  const TCatalogue catalogue(client);
  int64_t problems = 0;
  for (size_t t = 0; t < files.Tables.size(); ++t) {
    const TTableDeclaration& declaration = files.Tables[t];
    TReport& report = reports[t];
    std::optional<TTableInfo> table;
    for (const TNamedEntry& entry : catalogue.TableNames()) {
      if (SameNameIgnoringCase(entry.Name, declaration.Name)) table = catalogue.Table(entry);
    }
    if (!table) {
      report.Problem(declaration.FileName, "the engine serves no table " + declaration.Name);
    } else if (StoredLayout(table->Layout).RecordSize() !=
               StoredLayout(declaration.Declared).RecordSize()) {
      report.Problem(declaration.FileName, "the engine's record type of " + declaration.Name +
                                               " is not the structure file's");
    } else {
      try {
        TTableChecker(report, client, catalogue, declaration, *table).Run(inProcess);
      } catch (const TTableFileError& e) {
        // A file that cannot be read is this table's problem (a failing
        // session ends the check).
        report.Problem(declaration.FileName, e.Reason());
      }
    }
    printf("table %s (%s)\n", declaration.Name.c_str(), declaration.FileName.c_str());
    report.Print();
    problems += report.ProblemCount();
  }
  if (problems == 0) {
    printf("check: %zu table%s, every table file agrees with its indexes\n", files.Tables.size(),
           files.Tables.size() == 1 ? "" : "s");
    return kExitOk;
  }
  printf("check: %lld problem%s in %zu table%s\n", static_cast<long long>(problems),
         problems == 1 ? "" : "s", files.Tables.size(), files.Tables.size() == 1 ? "" : "s");
  return kExitFindings;
}

}  // namespace kor::tool
