#include "engine/tables/comp_func.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

#include "engine/streams/container_reading.h"

namespace kor {

namespace {

constexpr unsigned char kUnlisted = 255;

// Fills `weights` from a collation string (see TStringCompFunc). The walk
// starts with an implicit zero byte in front of the string, so the zero
// byte always gets weight 0.
void BuildWeights(std::string_view collation, unsigned char (&weights)[256]) {
  memset(weights, kUnlisted, sizeof weights);
  weights[0] = 0;
  int weight = 1;
  for (size_t i = 0; i < collation.size(); ++i) {
    if (weight == 256) throw EReaderSyntaxError();
    unsigned char c = static_cast<unsigned char>(collation[i]);
    if (c == '=') {
      // The next character shares the weight of the one before.
      if (i + 1 == collation.size()) throw EReaderSyntaxError();
      --weight;
      if (weight < 0) throw EReaderSyntaxError();
      continue;
    }
    if (c == '\\') {
      if (i + 1 == collation.size()) throw EReaderSyntaxError();
      ++i;
      c = static_cast<unsigned char>(collation[i]);
    }
    if (weights[c] != kUnlisted) throw EReaderSyntaxError();
    weights[c] = static_cast<unsigned char>(weight);
    ++weight;
  }
}

}  // namespace

// ---- TIntegerCompFunc ----

Ref<TFieldCompFunc> TIntegerCompFunc::ReadCompFuncParameters(TReader& /*reader*/,
                                                             int32_t classNumber) {
  return MakeRef<TIntegerCompFunc>(classNumber);
}

int TIntegerCompFunc::Compare(const void* a, const void* b, const TFieldType& fieldType) const {
  if (a == nullptr || b == nullptr) return CompareNullFields(a, b);
  return CompareValues(static_cast<const unsigned char*>(a), static_cast<const unsigned char*>(b),
                       fieldType.Size());
}

bool TIntegerCompFunc::Accepts(const TFieldType& fieldType) const {
  return dynamic_cast<const TIntegerType*>(&fieldType) != nullptr;
}

int TIntegerCompFunc::CompareValuesGeneral(const unsigned char* a, const unsigned char* b,
                                           int32_t size) {
  // The top group: size mod 4 bytes (or 4) in the high end of a word, so its
  // sign bit is the value's sign bit.
  int32_t top = size % 4 == 0 ? 4 : size % 4;
  int32_t offset = size - top;
  uint32_t wordA = 0;
  uint32_t wordB = 0;
  for (int32_t i = 0; i < top; ++i) {
    int shift = 8 * (4 - top + i);
    wordA |= uint32_t{a[offset + i]} << shift;
    wordB |= uint32_t{b[offset + i]} << shift;
  }
  int result = CompareInt(static_cast<int32_t>(wordA), static_cast<int32_t>(wordB));
  while (result == 0 && offset > 0) {
    offset -= 4;
    result = CompareUInt(static_cast<uint32_t>(DecodeInt32(a + offset)),
                         static_cast<uint32_t>(DecodeInt32(b + offset)));
  }
  return result;
}

// ---- TStringCompFunc ----

TStringCompFunc::TStringCompFunc(int32_t classNumber, std::string_view collation)
    : TFieldCompFunc(classNumber) {
  BuildWeights(collation, Weights);
}

Ref<TFieldCompFunc> TStringCompFunc::ReadCompFuncParameters(TReader& reader, int32_t classNumber) {
  std::string collation = reader.ReadString();
  return MakeRef<TStringCompFunc>(classNumber, collation);
}

int TStringCompFunc::Compare(const void* a, const void* b, const TFieldType& fieldType) const {
  if (a == nullptr || b == nullptr) return CompareNullFields(a, b);
  return CompareValues(static_cast<const unsigned char*>(a), static_cast<const unsigned char*>(b),
                       fieldType.Size());
}

bool TStringCompFunc::Accepts(const TFieldType& fieldType) const {
  return dynamic_cast<const TStringType*>(&fieldType) != nullptr;
}

void TStringCompFunc::WriteCompFuncParameters(TWriter& writer) const {
  writer.WriteString(Collation());
}

std::string TStringCompFunc::Collation() const {
  std::string collation;
  for (int weight = 1; weight < kUnlisted; ++weight) {
    bool first = true;
    for (int c = 0; c < 256; ++c) {
      if (Weights[c] != weight) continue;
      if (!first) collation.push_back('=');
      if (c == '=' || c == '\\') collation.push_back('\\');
      collation.push_back(static_cast<char>(c));
      first = false;
    }
  }
  return collation;
}

// ---- TDoubleCompFunc ----

Ref<TFieldCompFunc> TDoubleCompFunc::ReadCompFuncParameters(TReader& /*reader*/,
                                                            int32_t classNumber) {
  return MakeRef<TDoubleCompFunc>(classNumber);
}

int TDoubleCompFunc::Compare(const void* a, const void* b, const TFieldType& /*fieldType*/) const {
  if (a == nullptr || b == nullptr) return CompareNullFields(a, b);
  return CompareValues(static_cast<const unsigned char*>(a), static_cast<const unsigned char*>(b));
}

bool TDoubleCompFunc::Accepts(const TFieldType& fieldType) const {
  return dynamic_cast<const TDoubleType*>(&fieldType) != nullptr;
}

// ---- Registries ----

TFieldCompFuncClassVector::TFieldCompFuncClassVector() {
  Add("INTEGERCOMPFUNC", &TIntegerCompFunc::ReadCompFuncParameters);
  Add("STRINGCOMPFUNC", &TStringCompFunc::ReadCompFuncParameters);
  Add("DOUBLECOMPFUNC", &TDoubleCompFunc::ReadCompFuncParameters);
  FailIf(Count() != kDoubleCompFuncClass);
}

TFieldCompFunc* TFieldCompFuncVector::Add(std::string_view name, Ref<TFieldCompFunc> compFunc) {
  TFieldCompFunc* stored = compFunc.Get();
  TObjectVector::Add(name, std::move(compFunc));
  return stored;
}

int32_t TFieldCompFuncVector::PositionOf(const TFieldCompFunc& compFunc) const {
  for (int32_t position = 1; position <= Count(); ++position) {
    if (ValueAt(position).Get() == &compFunc) return position;
  }
  return -1;
}

Ref<TFieldCompFunc> ReadCompFunc(const TFieldCompFuncClassVector& registry, TReader& reader) {
  int32_t classNumber = ReadIndex(registry, reader);
  return registry.Get(classNumber)(reader, classNumber);
}

void WriteCompFunc(TWriter& writer, const TFieldCompFunc& compFunc) {
  writer.WriteInteger(compFunc.ClassNumber());
  compFunc.WriteCompFuncParameters(writer);
}

}  // namespace kor
