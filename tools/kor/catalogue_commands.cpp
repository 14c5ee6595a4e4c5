// tables, comparators, counters and describe: the catalogue as an aligned
// table, or as one JSON document with --json.

#include <string>
#include <vector>

#include "tools/kor/catalogue.h"
#include "tools/kor/commands.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/text_escape.h"
#include "tools/kor/text_table.h"

namespace kor::tool {

namespace {

std::string Display(std::string_view text) {
  std::string out;
  AppendDisplayText(out, text);
  return out;
}

std::string Json(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

std::string TypeText(const TField& field) {
  std::string text = KindName(field.Kind);
  if (field.Kind != TFieldKind::Double) text += " " + std::to_string(field.Size);
  return text;
}

std::string IndexText(const std::vector<TIndexPart>& parts) {
  std::string text;
  for (const TIndexPart& part : parts) {
    text += (text.empty() ? "" : ", ") + part.Field + " " + part.Comparator;
  }
  return text;
}

int ListTables(TDatabase& database, const TOptions& options) {
  TCatalogue catalogue(database.Open());
  TTextTable table({{"NUMBER", true}, {"NAME"}, {"FIELDS", true}, {"RECORD BYTES", true}});
  std::string json = "[";
  for (const TNamedEntry& entry : catalogue.TableNames()) {
    const TTableInfo info = catalogue.Table(entry);
    const std::string fields = std::to_string(info.Layout.FieldCount());
    const std::string bytes = std::to_string(info.Layout.RecordSize());
    table.AddRow({std::to_string(entry.Number), Display(entry.Name), fields, bytes});
    json += std::string(json.size() > 1 ? "," : "") +
            "{\"number\":" + std::to_string(entry.Number) + ",\"name\":" + Json(entry.Name) +
            ",\"fields\":" + fields + ",\"record_bytes\":" + bytes + "}";
  }
  if (options.Format == TOutputFormat::Json) {
    printf("%s]\n", json.c_str());
  } else {
    table.Write(stdout);
  }
  return kExitOk;
}

int ListComparators(TDatabase& database, const TOptions& options) {
  TCatalogue catalogue(database.Open());
  TTextTable table({{"NUMBER", true}, {"NAME"}, {"CLASS"}, {"COLLATION"}});
  std::string json = "[";
  for (const TComparatorEntry& entry : catalogue.Comparators()) {
    const char* className = ComparatorClassName(entry.Info.ClassNumber);
    const bool hasCollation = entry.Info.ClassNumber == 2;
    table.AddRow({std::to_string(entry.Number), Display(entry.Name), className,
                  hasCollation ? Display(entry.Info.Collation) : ""});
    json += std::string(json.size() > 1 ? "," : "") +
            "{\"number\":" + std::to_string(entry.Number) + ",\"name\":" + Json(entry.Name) +
            ",\"class\":" + Json(className);
    if (hasCollation) json += ",\"collation\":" + Json(entry.Info.Collation);
    json += "}";
  }
  if (options.Format == TOutputFormat::Json) {
    printf("%s]\n", json.c_str());
  } else {
    table.Write(stdout);
  }
  return kExitOk;
}

// The counters; with the database in this process also their next values,
// read from the counter file once the engine has opened (which sets each
// table's counter past its highest ID). The protocol cannot read a counter
// without advancing it.
int ListCounters(TDatabase& database, const TOptions& options) {
  TKorClient& client = database.Open();
  const std::vector<TNamedEntry> counters = client.ListCounters();
  std::vector<TCounterValue> values;
  if (database.InProcess()) values = ReadCounterFile(database.Files()->Settings.AutoincFileName);
  auto valueOf = [&](const std::string& name) -> std::string {
    for (const TCounterValue& value : values) {
      if (SameNameIgnoringCase(value.Name, name)) return std::to_string(value.Value);
    }
    return "";
  };
  std::vector<TTextTable::TColumn> columns{{"NUMBER", true}, {"NAME"}};
  if (database.InProcess()) columns.push_back({"NEXT VALUE", true});
  TTextTable table(std::move(columns));
  std::string json = "[";
  for (const TNamedEntry& entry : counters) {
    std::vector<std::string> row{std::to_string(entry.Number), Display(entry.Name)};
    json += std::string(json.size() > 1 ? "," : "") +
            "{\"number\":" + std::to_string(entry.Number) + ",\"name\":" + Json(entry.Name);
    if (database.InProcess()) {
      const std::string value = valueOf(entry.Name);
      row.push_back(value);
      json += ",\"next_value\":" + (value.empty() ? std::string("null") : value);
    }
    json += "}";
    table.AddRow(std::move(row));
  }
  if (options.Format == TOutputFormat::Json) {
    printf("%s]\n", json.c_str());
  } else {
    table.Write(stdout);
  }
  return kExitOk;
}

// A table's fields, each with the comparator dump --order would use for it,
// and its unique indexes when the structure file can be read here.
int Describe(TDatabase& database, const TOptions& options) {
  TCatalogue catalogue(database.Open());
  const TTableInfo info = catalogue.Table(options.Table);
  const TTableDeclaration* declaration = database.Declaration(info.Name);
  TTextTable table({{"NUMBER", true}, {"FIELD"}, {"TYPE"}, {"OFFSET", true}, {"ORDERED BY"}});
  std::string json =
      "{\"table\":" + Json(info.Name) + ",\"number\":" + std::to_string(info.Number) +
      ",\"record_bytes\":" + std::to_string(info.Layout.RecordSize()) + ",\"fields\":[";
  for (int32_t i = 0; i < info.Layout.FieldCount(); ++i) {
    const TField& field = info.Layout.Field(i);
    const std::optional<int32_t> comparator = catalogue.ComparatorFor(field.Kind);
    const std::string orderedBy = comparator ? catalogue.Comparator(*comparator).Name : "";
    table.AddRow({std::to_string(i + 1), Display(field.Name), TypeText(field),
                  std::to_string(field.Offset),
                  comparator ? Display(orderedBy) : "(no comparator)"});
    json += std::string(i > 0 ? "," : "") + "{\"number\":" + std::to_string(i + 1) +
            ",\"name\":" + Json(field.Name) + ",\"type\":" + Json(KindName(field.Kind)) +
            ",\"size\":" + std::to_string(field.Size) +
            ",\"offset\":" + std::to_string(field.Offset) +
            ",\"ordered_by\":" + (comparator ? Json(orderedBy) : "null") + "}";
  }
  json += "]";
  if (declaration != nullptr) {
    json += ",\"unique_indexes\":[";
    for (size_t i = 0; i < declaration->UniqueIndexes.size(); ++i) {
      json += i > 0 ? ",[" : "[";
      const std::vector<TIndexPart>& parts = declaration->UniqueIndexes[i];
      for (size_t j = 0; j < parts.size(); ++j) {
        json += std::string(j > 0 ? "," : "") + "{\"field\":" + Json(parts[j].Field) +
                ",\"comparator\":" + Json(parts[j].Comparator) + "}";
      }
      json += "]";
    }
    json += "]";
  }
  json += "}";
  if (options.Format == TOutputFormat::Json) {
    printf("%s\n", json.c_str());
    return kExitOk;
  }
  printf("table %s (number %d): %d fields, records of %d bytes\n", Display(info.Name).c_str(),
         info.Number, info.Layout.FieldCount(), info.Layout.RecordSize());
  table.Write(stdout);
  if (declaration != nullptr) {
    for (const std::vector<TIndexPart>& parts : declaration->UniqueIndexes) {
      printf("unique index: %s\n", Display(IndexText(parts)).c_str());
    }
  }
  return kExitOk;
}

}  // namespace

int RunCatalogueCommand(TDatabase& database, const TOptions& options) {
  if (options.Command == "tables") return ListTables(database, options);
  if (options.Command == "comparators") return ListComparators(database, options);
  if (options.Command == "counters") return ListCounters(database, options);
  return Describe(database, options);
}

}  // namespace kor::tool
