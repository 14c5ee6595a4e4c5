#include "tools/kor/key_order.h"

#include "engine/base/exceptions.h"

#include "tools/kor/kor_error.h"

namespace kor::tool {

TKeyOrder::TKeyOrder(const TCatalogue& catalogue, const TRecordLayout& layout,
                     const std::vector<TKeyPart>& order)
    : Layout(layout) {
  for (const TKeyPart& part : order) {
    const TComparatorEntry& comparator = catalogue.Comparator(part.Comparator);
    TPart entry{part.Field - 1, comparator.Info.ClassNumber, {}};
    if (comparator.Info.ClassNumber == kStringCompFuncClass) {
      try {
        entry.Strings = MakeRef<TStringCompFunc>(kStringCompFuncClass, comparator.Info.Collation);
      } catch (const EReaderSyntaxError&) {
        // The engine describes its collations in the form it reads.
        throw TKorError("comparator " + comparator.Name + ": collation not readable");
      }
    }
    Parts.push_back(std::move(entry));
  }
}

int TKeyOrder::Compare(const uint8_t* a, const uint8_t* b, int32_t partCount) const {
  for (int32_t i = 0; i < partCount; ++i) {
    const TPart& part = Parts[static_cast<size_t>(i)];
    const bool aNull = Layout.IsNull(a, part.Field);
    const bool bNull = Layout.IsNull(b, part.Field);
    int result = 0;
    if (aNull || bNull) {
      result = static_cast<int>(!aNull) - static_cast<int>(!bNull);
    } else {
      const uint8_t* x = Layout.FieldBytes(a, part.Field);
      const uint8_t* y = Layout.FieldBytes(b, part.Field);
      const int32_t size = Layout.Field(part.Field).Size;
      switch (part.ClassNumber) {
        case kIntegerCompFuncClass:
          result = TIntegerCompFunc::CompareValues(x, y, size);
          break;
        case kStringCompFuncClass:
          result = part.Strings->CompareValues(x, y, size);
          break;
        default:
          result = TDoubleCompFunc::CompareValues(x, y);
          break;
      }
    }
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace kor::tool
