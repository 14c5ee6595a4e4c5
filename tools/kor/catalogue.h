#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kor/database_files.h"
#include "tools/kor/kor_client.h"
#include "tools/kor/record_layout.h"

namespace kor::tool {

struct TTableInfo {
  std::string Name;
  int32_t Number = 0;
  TRecordLayout Layout;  // every declared field, as a view opened on all of them
};

struct TComparatorEntry {
  std::string Name;
  int32_t Number = 0;
  TComparatorInfo Info;
};

// What a session's engine serves: its tables with their record types and
// its comparators, read once through the catalogue commands.
class TCatalogue {
 public:
  // Lists the tables and describes every comparator; tables are described
  // when first asked for.
  explicit TCatalogue(TKorClient& client);

  const std::vector<TNamedEntry>& TableNames() const { return Tables; }
  const std::vector<TComparatorEntry>& Comparators() const { return CompFuncs; }
  // The table of that name (case ignored); TKorError listing the tables
  // when there is none.
  TTableInfo Table(std::string_view name) const;
  TTableInfo Table(const TNamedEntry& entry) const;

  // The first declared comparator that accepts fields of `kind`, or none.
  std::optional<int32_t> ComparatorFor(TFieldKind kind) const;
  // The comparator of that name (case ignored), or none.
  std::optional<int32_t> ComparatorNamed(std::string_view name) const;
  const TComparatorEntry& Comparator(int32_t number) const {
    return CompFuncs[static_cast<size_t>(number - 1)];
  }

 private:
  TKorClient& Client;
  std::vector<TNamedEntry> Tables;
  std::vector<TComparatorEntry> CompFuncs;
};

// Whether comparators of the class `classNumber` order fields of `kind`
// (INTEGERCOMPFUNC integers, STRINGCOMPFUNC strings, DOUBLECOMPFUNC doubles).
bool ComparatorAccepts(int32_t classNumber, TFieldKind kind);
const char* ComparatorClassName(int32_t classNumber);

// The order of a view for the field names given: each field with the first
// comparator that accepts its type. TKorError when a name is not a field of
// the table, or when no comparator accepts the type of one of them.
std::vector<TKeyPart> OrderByFields(const TCatalogue& catalogue, const TTableInfo& table,
                                    const std::vector<std::string>& fieldNames);

// The order of a unique index declared in the structure file, as a view's
// order; none when one of its fields or comparators is not what the engine
// serves (the structure file changed since the engine started).
std::optional<std::vector<TKeyPart>> IndexOrder(const TCatalogue& catalogue,
                                                const TTableInfo& table,
                                                const std::vector<TIndexPart>& index);

// The order a listing uses when none is asked for: the table's first unique
// index when the structure file is known (so the engine walks an index it
// keeps anyway), else its first field that a comparator accepts. TKorError
// when no comparator accepts any of its fields.
std::vector<TKeyPart> DefaultOrder(const TCatalogue& catalogue, const TTableInfo& table,
                                   const TTableDeclaration* declaration);

// Opens a view of every field of `table` in `transaction`, ordered by
// `order` (7). The engine ends the session instead of opening a view it
// cannot build (keys too large for its index pages); that is reported as a
// TKorError naming the table and the order.
int32_t OpenView(TKorClient& client, const TCatalogue& catalogue, const TTableInfo& table,
                 int32_t transaction, const std::vector<TKeyPart>& order);

}  // namespace kor::tool
