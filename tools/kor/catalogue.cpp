#include "tools/kor/catalogue.h"

#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

constexpr int32_t kIntegerCompFunc = 1;
constexpr int32_t kStringCompFunc = 2;
constexpr int32_t kDoubleCompFunc = 3;

// The comparator class for each field kind: their registry numbers match.
int32_t ClassFor(TFieldKind kind) { return static_cast<int32_t>(kind); }

}  // namespace

bool ComparatorAccepts(int32_t classNumber, TFieldKind kind) {
  return classNumber == ClassFor(kind);
}

const char* ComparatorClassName(int32_t classNumber) {
  switch (classNumber) {
    case kIntegerCompFunc:
      return "INTEGERCOMPFUNC";
    case kStringCompFunc:
      return "STRINGCOMPFUNC";
    case kDoubleCompFunc:
      return "DOUBLECOMPFUNC";
  }
  return "?";
}

TCatalogue::TCatalogue(TKorClient& client) : Client(client), Tables(client.ListTables()) {
  for (TNamedEntry& entry : client.ListComparators()) {
    TComparatorInfo info = client.DescribeComparator(entry.Number);
    CompFuncs.push_back(TComparatorEntry{std::move(entry.Name), entry.Number, std::move(info)});
  }
}

TTableInfo TCatalogue::Table(const TNamedEntry& entry) const {
  return TTableInfo{entry.Name, entry.Number, Client.DescribeTable(entry.Number)};
}

TTableInfo TCatalogue::Table(std::string_view name) const {
  std::string known;
  for (const TNamedEntry& entry : Tables) {
    if (SameNameIgnoringCase(entry.Name, name)) return Table(entry);
    known += (known.empty() ? "" : ", ") + entry.Name;
  }
  throw TKorError(Client.Name() + ": no table " + std::string(name) +
                  (known.empty() ? " (the database has no tables)" : " (tables: " + known + ")"));
}

std::optional<int32_t> TCatalogue::ComparatorFor(TFieldKind kind) const {
  for (const TComparatorEntry& entry : CompFuncs) {
    if (ComparatorAccepts(entry.Info.ClassNumber, kind)) return entry.Number;
  }
  return std::nullopt;
}

std::optional<int32_t> TCatalogue::ComparatorNamed(std::string_view name) const {
  for (const TComparatorEntry& entry : CompFuncs) {
    if (SameNameIgnoringCase(entry.Name, name)) return entry.Number;
  }
  return std::nullopt;
}

std::vector<TKeyPart> OrderByFields(const TCatalogue& catalogue, const TTableInfo& table,
                                    const std::vector<std::string>& fieldNames) {
  std::vector<TKeyPart> order;
  for (const std::string& name : fieldNames) {
    const int32_t field = table.Layout.FieldNumber(name);
    if (field < 0) throw TKorError("table " + table.Name + " has no field " + name);
    const TFieldKind kind = table.Layout.Field(field).Kind;
    const std::optional<int32_t> comparator = catalogue.ComparatorFor(kind);
    if (!comparator) {
      throw TKorError("cannot order " + table.Name + " by " + table.Layout.Field(field).Name +
                      ": no comparator of the database accepts " + KindName(kind) +
                      " fields (the structure file declares none of class " +
                      ComparatorClassName(ClassFor(kind)) + ")");
    }
    order.push_back(TKeyPart{field + 1, *comparator});
  }
  return order;
}

std::optional<std::vector<TKeyPart>> IndexOrder(const TCatalogue& catalogue,
                                                const TTableInfo& table,
                                                const std::vector<TIndexPart>& index) {
  std::vector<TKeyPart> order;
  for (const TIndexPart& part : index) {
    const int32_t field = table.Layout.FieldNumber(part.Field);
    const std::optional<int32_t> comparator = catalogue.ComparatorNamed(part.Comparator);
    if (field < 0 || !comparator ||
        !ComparatorAccepts(catalogue.Comparator(*comparator).Info.ClassNumber,
                           table.Layout.Field(field).Kind)) {
      return std::nullopt;
    }
    order.push_back(TKeyPart{field + 1, *comparator});
  }
  return order;
}

std::vector<TKeyPart> DefaultOrder(const TCatalogue& catalogue, const TTableInfo& table,
                                   const TTableDeclaration* declaration) {
  if (declaration != nullptr && !declaration->UniqueIndexes.empty()) {
    if (auto order = IndexOrder(catalogue, table, declaration->UniqueIndexes.front()))
      return *order;
  }
  for (int32_t i = 0; i < table.Layout.FieldCount(); ++i) {
    if (const auto comparator = catalogue.ComparatorFor(table.Layout.Field(i).Kind)) {
      return {TKeyPart{i + 1, *comparator}};
    }
  }
  throw TKorError("cannot open a view of " + table.Name +
                  ": no comparator of the database accepts any of its fields, and a view needs an "
                  "order");
}

int32_t OpenView(TKorClient& client, const TCatalogue& catalogue, const TTableInfo& table,
                 int32_t transaction, const std::vector<TKeyPart>& order) {
  try {
    return client.OpenTable(table.Number, table.Layout.FieldCount(), transaction, order,
                            table.Layout.RecordSize());
  } catch (const TKorError& e) {
    std::string by;
    for (const TKeyPart& part : order) {
      by += (by.empty() ? "" : ", ") + table.Layout.Field(part.Field - 1).Name + " " +
            catalogue.Comparator(part.Comparator).Name;
    }
    throw TKorError("cannot open " + table.Name + " ordered by " + by +
                    " (keys too large for the " + "index pages?): " + e.what());
  }
}

}  // namespace kor::tool
