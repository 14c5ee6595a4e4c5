#include "engine/streams/container_reading.h"

#include <limits>

#include "engine/base/exceptions.h"

namespace kor {

namespace {

constexpr int32_t kMaxInt32 = std::numeric_limits<int32_t>::max();

}  // namespace

Ref<TIntegerMatrix> ReadIntegerMatrix(TReader& reader) {
  Ref<TIntegerMatrix> matrix = MakeRef<TIntegerMatrix>();
  int32_t count = ReadIntegerInRange(reader, 0, kMaxInt32);
  // No reserve(count): a hostile count must not allocate before its values
  // have arrived; end of input stops the loop long before memory runs out.
  for (int32_t i = 0; i < count; ++i) matrix->Add(reader.ReadInteger());
  return matrix;
}

int32_t ReadIndex(const TNameVector& vector, TReader& reader) {
  int32_t position = vector.IndexOf(reader.ReadIdent());
  if (position == -1) throw EReaderSyntaxError();
  return position;
}

int32_t ReadIndexNumber(const TNameVector& vector, TReader& reader) {
  return ReadIntegerInRange(reader, 1, vector.Count());
}

int32_t ReadHandle(const TObjectHolder& holder, TReader& reader) {
  int32_t handle = ReadIntegerInRange(reader, 1, kMaxInt32);
  if (holder.IsFree(handle)) throw EReaderSyntaxError();
  return handle;
}

}  // namespace kor
