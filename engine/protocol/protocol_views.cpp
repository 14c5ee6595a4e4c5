// Opening and closing table views (commands 7, 27 and 8).

#include <limits>
#include <vector>

#include "engine/base/exceptions.h"

#include "engine/protocol/protocol_executor.h"
#include "engine/tables/lookup.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/table.h"

namespace kor {

namespace {

constexpr int32_t kOk = 0;

// Kinds of a lookup's key part on the wire; other kinds add no part.
constexpr int32_t kFieldPart = 0;
constexpr int32_t kConstantPart = 1;

// The field numbers of a view, in view order: a count, then the numbers.
// The list grows as it is read, so a count that the bytes do not bear out
// ends in EReaderEof, not in a large allocation. The numbers themselves are
// checked when the view is built.
std::vector<int32_t> ReadFieldList(TReader& reader) {
  const int32_t count = ReadIntegerInRange(reader, 0, std::numeric_limits<int32_t>::max());
  std::vector<int32_t> fields;
  for (int32_t i = 0; i < count; ++i) fields.push_back(reader.ReadInteger());
  return fields;
}

// One lookup's key parts and result fields, into `lookup`. A constant part
// is as wide as the key field it fills (the next one of the looked-up
// view's order), whatever kinds came before it.
void ReadLookupDefinition(TReader& reader, TLookup& lookup) {
  const int32_t partCount = reader.ReadInteger();
  std::vector<unsigned char> constant;
  for (int32_t part = 0; part < partCount; ++part) {
    switch (reader.ReadInteger()) {
      case kFieldPart:
        lookup.AddFieldPart(reader.ReadInteger());
        break;
      case kConstantPart:
        constant.resize(static_cast<size_t>(lookup.NextPartSize()));
        reader.ReadBytes(constant.data(), static_cast<int32_t>(constant.size()));
        lookup.AddConstantPart(constant.data());
        break;
      default:
        break;
    }
  }
  const int32_t resultCount = reader.ReadInteger();
  for (int32_t i = 0; i < resultCount; ++i) lookup.AddResultField(reader.ReadInteger());
}

}  // namespace

// Nothing is built until every argument has been read and checked: a
// refused definition (EReaderSyntaxError from the reading or from the view)
// writes no reply and leaves the session's handles as they were.
void TProtocolExecutor::OpenTable(bool withLookups) {
  Ref<TRawTable> rawTable = Engine->Table(ReadTableNumber());
  const std::vector<int32_t> fieldList = ReadFieldList(*Reader);
  TTransaction& transaction = ReadTransaction();
  Ref<TRecordCompFunc> order =
      ReadKeyDefinitionBinary(*Reader, rawTable->DeclaredRecordType(), Engine->CompFuncs());
  std::vector<Ref<TLookup>> lookups;
  if (withLookups) {
    const int32_t lookupCount = Reader->ReadInteger();
    for (int32_t i = 0; i < lookupCount; ++i) {
      TTable& lookedUp = ReadView();
      auto lookup = MakeRef<TLookup>(Ref<TTable>::Share(lookedUp));
      ReadLookupDefinition(*Reader, *lookup);
      lookups.push_back(std::move(lookup));
    }
  }
  auto view = MakeRef<TTable>(std::move(rawTable), fieldList,
                              Ref<TTransaction>::Share(transaction), *order, std::move(lookups));
  const int32_t handle = TableHandles->Add(std::move(view));
  Writer->WriteInteger(kOk);
  Writer->WriteInteger(handle);
}

void TProtocolExecutor::CloseTable() {
  int32_t handle = 0;
  ReadView(&handle);
  TableHandles->Remove(handle);
  Writer->WriteInteger(kOk);
}

}  // namespace kor
