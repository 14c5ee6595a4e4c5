#include "tools/kor/record_layout.h"

#include "engine/base/fatal.h"

namespace kor::tool {

const char* KindName(TFieldKind kind) {
  switch (kind) {
    case TFieldKind::Integer:
      return "INTEGER";
    case TFieldKind::String:
      return "STRING";
    case TFieldKind::Double:
      return "DOUBLE";
  }
  return "?";
}

void TRecordLayout::AddField(std::string name, TFieldKind kind, int32_t size) {
  FailIf(Frozen || size < 1);
  Fields.push_back(TField{std::move(name), kind, size, Size});
  Size += size;
}

void TRecordLayout::Freeze() {
  FailIf(Frozen || Fields.empty());
  BitmapOffset = Size;
  Size += (FieldCount() - 1) / 8 + 1;
  Frozen = true;
}

int32_t TRecordLayout::FieldNumber(std::string_view name) const {
  for (int32_t i = 0; i < FieldCount(); ++i) {
    if (SameNameIgnoringCase(Fields[static_cast<size_t>(i)].Name, name)) return i;
  }
  return -1;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

}  // namespace kor::tool
