// load: records from a CSV file into a table, in one transaction.
//
// The first line names the fields (any order, case ignored; fields left out
// are null). Each later record is parsed on this side; a value that is not
// one of its field reports the record as refused without sending it. The
// others go in batches through the batch insert command (28), each batch in
// a nested transaction of its own: the engine stops a batch at the first
// record it refuses and drops the rest, so a refused batch is rolled back
// and sent again one record at a time (14), which names every refused record
// and keeps the others. The load's transaction is committed when nothing
// was refused, or with --commit-partial; else it is rolled back and the
// table is left as it was.
//
// After a commit, a table with an INTEGER field ID and a counter named
// after it gets that counter raised past the highest ID loaded (31), so
// that IDs handed out later do not collide with the loaded ones.

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tools/kor/catalogue.h"
#include "tools/kor/commands.h"
#include "tools/kor/csv_reader.h"
#include "tools/kor/field_values.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/progress.h"

namespace kor::tool {

namespace {

// A batch ends at this many records or about this many bytes.
constexpr int32_t kBatchRecords = 1024;
constexpr int64_t kBatchBytes = 1 << 20;

class TLoader {
 public:
  TLoader(TDatabase& database, const TOptions& options, FILE* in, int64_t size)
      : Client(database.Open()),
        Options(options),
        Catalogue(Client),
        Table(Catalogue.Table(options.Table)),
        Order(DefaultOrder(Catalogue, Table, database.Declaration(Table.Name))),
        Csv(in, options.File),
        Progress("load " + Table.Name, options.Progress, size),
        Scratch(static_cast<size_t>(Table.Layout.RecordSize())),
        IdField(IntegerIdField()) {}

  int Run();

 private:
  void ReadHeader();
  // Parses the current CSV record into Scratch; false (reported) when a
  // value is not one of its field.
  bool ParseRecord();
  // Sends the batch built; on a refusal sends it again record by record.
  void SendBatch(int32_t view, int32_t nested);
  void InsertOneByOne();
  // Notes a refused record; the batch's refusals are reported in line order
  // once the engine has answered for it (ReportRefusals).
  void Refuse(int64_t line, std::string why);
  void ReportRefusals();
  void NoteInserted(const uint8_t* record);
  int32_t OpenView(int32_t transaction) {
    return tool::OpenView(Client, Catalogue, Table, transaction, Order);
  }
  int32_t IntegerIdField() const {
    const int32_t field = Table.Layout.FieldNumber("ID");
    if (field < 0) return -1;
    const TField& id = Table.Layout.Field(field);
    return id.Kind == TFieldKind::Integer && id.Size <= 8 ? field : -1;
  }
  void RaiseIdCounter();

  TKorClient& Client;
  const TOptions& Options;
  const TCatalogue Catalogue;
  const TTableInfo Table;
  const std::vector<TKeyPart> Order;
  TCsvReader Csv;
  TProgress Progress;
  // Field of each CSV column.
  std::vector<int32_t> Columns;
  std::vector<uint8_t> Scratch;
  // The batch's lines, parallel to its records in the request.
  std::vector<int64_t> BatchLines;
  // A refused batch, kept for the one-by-one pass.
  std::vector<uint8_t> Retry;
  std::vector<std::pair<int64_t, std::string>> Refusals;
  int32_t Transaction = 0;
  int64_t Read = 0;
  int64_t Inserted = 0;
  int64_t Refused = 0;
  const int32_t IdField;
  std::optional<int64_t> HighestId;
};

void TLoader::ReadHeader() {
  for (;;) {
    switch (Csv.Next()) {
      case TCsvReader::TResult::End:
        throw TKorError(Options.File + ": empty; the first line must name the fields");
      case TCsvReader::TResult::Malformed:
        throw TKorError(Options.File + ", line " + std::to_string(Csv.Line()) + ": " +
                        Csv.Problem());
      case TCsvReader::TResult::Record:
        break;
    }
    break;
  }
  for (size_t i = 0; i < Csv.FieldCount(); ++i) {
    const std::string name(Csv.Field(i));
    const int32_t field = Table.Layout.FieldNumber(name);
    if (field < 0) {
      throw TKorError(Options.File + ", line " + std::to_string(Csv.Line()) + ": table " +
                      Table.Name + " has no field \"" + name + "\"");
    }
    for (int32_t earlier : Columns) {
      if (earlier == field) {
        throw TKorError(Options.File + ", line " + std::to_string(Csv.Line()) + ": field " + name +
                        " named twice");
      }
    }
    Columns.push_back(field);
  }
}

void TLoader::Refuse(int64_t line, std::string why) {
  ++Refused;
  Refusals.emplace_back(line, std::move(why));
}

void TLoader::ReportRefusals() {
  std::stable_sort(Refusals.begin(), Refusals.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [line, why] : Refusals) {
    printf("%s, line %lld: refused: %s\n", Options.File.c_str(), static_cast<long long>(line),
           why.c_str());
  }
  Refusals.clear();
}

bool TLoader::ParseRecord() {
  if (Csv.FieldCount() != Columns.size()) {
    Refuse(Csv.Line(), std::to_string(Csv.FieldCount()) + " fields where the header names " +
                           std::to_string(Columns.size()));
    return false;
  }
  std::memset(Scratch.data(), 0, Scratch.size());
  for (size_t i = 0; i < Columns.size(); ++i) {
    const int32_t field = Columns[i];
    // An unquoted empty field is null; "" is the empty text.
    if (Csv.Field(i).empty() && !Csv.Quoted(i)) continue;
    std::string why;
    if (!ParseFieldValue(Table.Layout.Field(field), Csv.Field(i),
                         Table.Layout.FieldBytes(Scratch.data(), field), why)) {
      Refuse(Csv.Line(), Table.Layout.Field(field).Name + ": " + why);
      return false;
    }
    Table.Layout.SetPresent(Scratch.data(), field);
  }
  return true;
}

void TLoader::NoteInserted(const uint8_t* record) {
  ++Inserted;
  if (IdField < 0 || Table.Layout.IsNull(record, IdField)) return;
  const int64_t id =
      IntegerValue(Table.Layout.FieldBytes(record, IdField), Table.Layout.Field(IdField).Size);
  if (!HighestId || id > *HighestId) HighestId = id;
}

void TLoader::SendBatch(int32_t view, int32_t nested) {
  const int32_t status = Client.SendBatch();
  if ((status & kFailed) == 0) {
    const size_t size = Scratch.size();
    for (int32_t i = 0; i < Client.BatchCount(); ++i) {
      NoteInserted(Client.BatchRecords() + static_cast<size_t>(i) * size);
    }
    Client.CloseTable(view);
    Client.CommitTransaction(nested);
    return;
  }
  // The engine inserted a prefix of the batch and dropped the rest; undo
  // the prefix and find the refused records one by one.
  Retry.assign(Client.BatchRecords(),
               Client.BatchRecords() + static_cast<size_t>(Client.BatchCount()) * Scratch.size());
  Client.CloseTable(view);
  Client.RollbackTransaction(nested);
  InsertOneByOne();
}

void TLoader::InsertOneByOne() {
  const int32_t nested = Client.BeginNestedTransaction(Transaction);
  const int32_t view = OpenView(nested);
  const size_t size = Scratch.size();
  for (size_t i = 0; i < BatchLines.size(); ++i) {
    const uint8_t* record = Retry.data() + i * size;
    if ((Client.InsertRecord(view, record) & kFailed) != 0) {
      Refuse(BatchLines[i], "refused by the engine: a unique index already holds its key");
    } else {
      NoteInserted(record);
    }
  }
  Client.CloseTable(view);
  Client.CommitTransaction(nested);
}

void TLoader::RaiseIdCounter() {
  if (!HighestId || *HighestId == std::numeric_limits<int64_t>::max()) return;
  for (const TNamedEntry& counter : Client.ListCounters()) {
    if (SameNameIgnoringCase(counter.Name, Table.Name)) {
      Client.RaiseCounter(counter.Number, *HighestId + 1);
      return;
    }
  }
}

int TLoader::Run() {
  ReadHeader();
  Transaction = Client.BeginTransaction();
  const int64_t batchLimit = std::max<int64_t>(
      1, std::min<int64_t>(kBatchRecords, kBatchBytes / static_cast<int64_t>(Scratch.size())));
  for (bool atEnd = false; !atEnd;) {
    const int32_t nested = Client.BeginNestedTransaction(Transaction);
    const int32_t view = OpenView(nested);
    Client.StartBatch(view);
    BatchLines.clear();
    while (static_cast<int64_t>(BatchLines.size()) < batchLimit) {
      const TCsvReader::TResult result = Csv.Next();
      if (result == TCsvReader::TResult::End) {
        atEnd = true;
        break;
      }
      ++Read;
      if (result == TCsvReader::TResult::Malformed) {
        Refuse(Csv.Line(), "not valid CSV: " + Csv.Problem());
        continue;
      }
      if (!ParseRecord()) continue;
      std::memcpy(Client.AddBatchRecord(), Scratch.data(), Scratch.size());
      BatchLines.push_back(Csv.Line());
    }
    SendBatch(view, nested);
    ReportRefusals();
    Progress.Update(Inserted, Csv.BytesRead());
  }
  Progress.Finish(Inserted, Csv.BytesRead());

  const bool commit = Refused == 0 || Options.CommitPartial;
  if (commit) {
    Client.CommitTransaction(Transaction);
    RaiseIdCounter();
  } else {
    Client.RollbackTransaction(Transaction);
  }
  const std::string counts =
      std::to_string(Read) + " records read, " + std::to_string(Refused) + " refused";
  if (commit) {
    printf("load %s: %s, %lld inserted and committed\n", Table.Name.c_str(), counts.c_str(),
           static_cast<long long>(Inserted));
  } else if (Inserted == 0) {
    printf("load %s: %s; nothing committed\n", Table.Name.c_str(), counts.c_str());
  } else {
    printf("load %s: %s; nothing committed (--commit-partial commits the other %lld)\n",
           Table.Name.c_str(), counts.c_str(), static_cast<long long>(Inserted));
  }
  return Refused == 0 ? kExitOk : kExitFindings;
}

}  // namespace

int RunLoad(TDatabase& database, const TOptions& options, FILE* in, int64_t size) {
  TLoader loader(database, options, in, size);
  return loader.Run();
}

}  // namespace kor::tool
