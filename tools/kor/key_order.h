#pragma once

#include <cstdint>
#include <vector>

#include "engine/base/ref.h"

#include "engine/tables/comp_func.h"

#include "tools/kor/catalogue.h"
#include "tools/kor/record_layout.h"

namespace kor::tool {

// A view's order, evaluated on the client side with the engine's own value
// comparisons, so that the tool can tell where a run of equal keys ends
// (dump --where) and whether an index walk came out in order and unique
// (check). Nulls sort first, as in the engine.
//
// Holds engine objects (a string comparator per collation): destroy it
// before the in-process session closes.
class TKeyOrder {
 public:
  // `order` as given to the view; `layout` the view's record layout.
  TKeyOrder(const TCatalogue& catalogue, const TRecordLayout& layout,
            const std::vector<TKeyPart>& order);

  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  // -1, 0 or 1: records a and b compared on their first `partCount` parts.
  int Compare(const uint8_t* a, const uint8_t* b, int32_t partCount) const;

 private:
  struct TPart {
    int32_t Field = 0;  // 0-based, in the layout
    int32_t ClassNumber = 0;
    Ref<TStringCompFunc> Strings;  // for STRINGCOMPFUNC only
  };
  const TRecordLayout& Layout;
  std::vector<TPart> Parts;
};

}  // namespace kor::tool
