#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/tables/record_type.h"
#include "engine/tables/table.h"

// A lookup: a join done at read time. It extends a view (the referencing
// view, which owns it) with result fields taken from a record of another
// open view (the looked-up view), found through the looked-up view's index
// by a key whose parts are constants or fields of the referencing view.
//
// Key part j (from 0) fills key field j + 4 of the looked-up view's index,
// its j-th order field; parts are added in that order, and there may be
// fewer parts than order fields (the search then uses the leading ones).
// A field part that is null makes its key field null, which matches a
// record whose field is null. When no record matches, every result field
// is null. Reading moves the looked-up view's own position.

namespace kor {

class TLookup final : public TRCObject {
 public:
  // A lookup into `lookedUpTable` (reference taken over).
  explicit TLookup(Ref<TTable> lookedUpTable);
  ~TLookup() override;

  // The width of the key field that the next part fills. Raises
  // EReaderSyntaxError when every order field of the looked-up view has a
  // part already.
  int32_t NextPartSize() const;
  // The next key field is the constant `value` (NextPartSize() bytes in the
  // field's own format; null for a null field). Raises as NextPartSize.
  void AddConstantPart(const unsigned char* value);
  // The next key field comes from field `viewField` of the referencing
  // view, which must be filled before this lookup's results (an own field
  // or a result of an earlier lookup) and have the key field's width; the
  // referencing view checks that when it is opened. Raises as NextPartSize.
  void AddFieldPart(int32_t viewField);
  // Appends field `viewField` (1..fields of the looked-up view) to the
  // results; raises EReaderSyntaxError for another number.
  void AddResultField(int32_t viewField);

  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  // For part j (from 0): the referencing view's field, or -1 for a constant.
  int32_t PartField(int32_t part) const { return Parts[static_cast<size_t>(part)]; }
  // The width of the key field of part j (from 0).
  int32_t PartSize(int32_t part) const;
  int32_t ResultFieldCount() const { return static_cast<int32_t>(Results.size()); }
  // Result field i (from 0): a field of the looked-up view.
  int32_t ResultField(int32_t i) const { return Results[static_cast<size_t>(i)]; }
  TTable& LookedUpTable() const { return *Table; }

 private:
  friend class TTable;

  // Fills fields first, first + 1, ... of `viewRecord` (of `viewType`, the
  // referencing view's) with the results for the key taken from it.
  void Fill(const TRecordType& viewType, unsigned char* viewRecord, int32_t firstResultField);
  void CheckRoomForPart() const;

  Ref<TTable> Table;
  std::vector<int32_t> Parts;
  std::unique_ptr<unsigned char[]> KeyBuffer;
  std::vector<int32_t> Results;
};

}  // namespace kor
