// dump: a table's records through a view of all its fields, fetched a page
// at a time (command 17) straight from the reply buffer into the output.
//
// --where FIELD=VALUE (repeatable) puts those fields first in the view's
// order and seeks to the value; the run of matching records ends at the
// first record whose key differs under the comparators (evaluated here with
// the engine's own comparisons). --order adds fields after them; without
// either, the table's first unique index orders the listing.

#include <algorithm>
#include <vector>

#include "tools/kor/catalogue.h"
#include "tools/kor/commands.h"
#include "tools/kor/field_values.h"
#include "tools/kor/key_order.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/progress.h"
#include "tools/kor/record_sinks.h"

namespace kor::tool {

namespace {

// Pages grow from a few records (a --where run is often short) to this many,
// or to about kPageBytes of records.
constexpr int32_t kFirstPage = 16;
constexpr int32_t kMaxPage = 4096;
constexpr int64_t kPageBytes = 1 << 20;

// The where fields, then the order fields not among them.
std::vector<std::string> KeyFieldNames(const TOptions& options, const TTableInfo& table) {
  std::vector<std::string> names;
  auto contains = [&](const std::string& name) {
    const int32_t field = table.Layout.FieldNumber(name);
    return field >= 0 && std::any_of(names.begin(), names.end(), [&](const std::string& other) {
             return table.Layout.FieldNumber(other) == field;
           });
  };
  for (const auto& [field, value] : options.Where) {
    if (contains(field)) throw TKorError("--where gives " + field + " twice");
    names.push_back(field);
  }
  for (const std::string& field : options.Order) {
    if (!contains(field)) names.push_back(field);
  }
  return names;
}

// The search record: the where values in their fields, the rest null.
std::vector<uint8_t> SearchRecord(const TOptions& options, const TTableInfo& table) {
  std::vector<uint8_t> record(static_cast<size_t>(table.Layout.RecordSize()), 0);
  for (const auto& [name, text] : options.Where) {
    const int32_t field = table.Layout.FieldNumber(name);
    std::string why;
    if (!ParseFieldValue(table.Layout.Field(field), text,
                         table.Layout.FieldBytes(record.data(), field), why)) {
      throw TKorError("--where " + name + "=" + text + ": " + why);
    }
    table.Layout.SetPresent(record.data(), field);
  }
  return record;
}

}  // namespace

int RunDump(TDatabase& database, const TOptions& options) {
  TKorClient& client = database.Open();
  const TCatalogue catalogue(client);
  const TTableInfo table = catalogue.Table(options.Table);
  const std::vector<std::string> keyFields = KeyFieldNames(options, table);
  const std::vector<TKeyPart> order =
      keyFields.empty() ? DefaultOrder(catalogue, table, database.Declaration(table.Name))
                        : OrderByFields(catalogue, table, keyFields);
  const std::vector<uint8_t> search = SearchRecord(options, table);
  const int32_t whereCount = static_cast<int32_t>(options.Where.size());
  const TKeyOrder keyOrder(catalogue, table.Layout, order);

  const int32_t transaction = client.BeginTransaction();
  const int32_t view = OpenView(client, catalogue, table, transaction, order);
  int32_t status = 0;
  if (whereCount > 0) {
    status = client.SeekForward(view, search.data(), whereCount);
  } else {
    status = client.MoveToFirst(view);
  }

  std::unique_ptr<TRecordSink> sink = MakeRecordSink(options.Format, table.Layout, stdout);
  TProgress progress("dump " + table.Name, options.Progress);
  const int32_t pageLimit = static_cast<int32_t>(
      std::clamp<int64_t>(kPageBytes / table.Layout.RecordSize(), 1, kMaxPage));
  int32_t page = std::min(kFirstPage, pageLimit);
  int64_t remaining = options.Limit;  // -1: no limit
  int64_t written = 0;
  bool runEnded = false;
  while (status == 0 && remaining != 0 && !runEnded) {
    const int32_t n =
        remaining < 0 ? page : static_cast<int32_t>(std::min<int64_t>(page, remaining));
    status = client.FetchForward(view, n, [&](const uint8_t* record) {
      if (runEnded || remaining == 0) return;
      if (whereCount > 0 && keyOrder.Compare(record, search.data(), whereCount) != 0) {
        runEnded = true;
        return;
      }
      sink->Record(record);
      ++written;
      if (remaining > 0) --remaining;
    });
    progress.Update(written);
    page = std::min(page * 2, pageLimit);
  }
  if ((status & kFailed) != 0) throw TKorError(client.Name() + ": the engine refused to fetch");
  sink->Finish();
  progress.Finish(written);
  client.CloseTable(view);
  client.RollbackTransaction(transaction);
  return kExitOk;
}

}  // namespace kor::tool
