#pragma once

#include <cstdint>

#include "engine/base/containers.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

// Reading container positions, handles and lists from a request or from
// configuration text. These live here rather than beside the containers
// because the containers sit below the reader in the layering.
//
// Each function borrows the reader (TReader&): the caller keeps its own
// reference and goes on reading from it, so no AddRef before and Release
// after is needed, and the counts come out the same. Malformed input (an
// unknown name, a number out of range, a handle naming no live object, input
// that ends early) raises an EReaderError, never a fatal failure.

namespace kor {

// A count in 0..2147483647, then that many integers. Values are appended as
// they arrive, so memory follows the input actually read, never the count
// claimed. When reading fails the partly built matrix is destroyed before
// the exception passes on.
Ref<TIntegerMatrix> ReadIntegerMatrix(TReader& reader);

// An identifier, returned as the position of the first entry of `vector`
// with that name (case of A to Z ignored); an unknown name raises
// EReaderSyntaxError.
int32_t ReadIndex(const TNameVector& vector, TReader& reader);

// An integer position in 1..vector.Count(); anything else (any number at all
// for an empty vector) raises EReaderSyntaxError.
int32_t ReadIndexNumber(const TNameVector& vector, TReader& reader);

// A handle in 1..2147483647 that names a live object of `holder`; anything
// else raises EReaderSyntaxError.
int32_t ReadHandle(const TObjectHolder& holder, TReader& reader);

}  // namespace kor
