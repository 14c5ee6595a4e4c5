#pragma once

#include <cstdint>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/streams/reader.h"

// Field types: how many bytes a field of a record has and how its value is
// stored. Types are made by name from the structure file through the field
// type registry and describe themselves to a client as their registry number
// followed by their parameters.
//
// Stored values (all sizes in bytes, 1..kMaxFieldSize where a size is read):
//   INTEGER n   an n-byte two's complement integer, least significant byte
//               first
//   STRING n    up to n bytes of text, ended by a zero byte when shorter
//               than n (a text of exactly n bytes has no terminator)
//   DOUBLE      an IEEE 754 double, 8 bytes, little-endian
//
// Readers and writers are borrowed (TReader& / TWriter&): the caller keeps
// its reference and goes on using the stream, which Ref<T> makes the natural
// signature; nothing here takes a reference over.

namespace kor {

// The widest INTEGER or STRING field the structure file may declare.
inline constexpr int32_t kMaxFieldSize = 10000;

// Registry numbers of the field type classes, in registration order. They
// are on the wire (the describe-table reply) and never change.
inline constexpr int32_t kInternalTypeClass = -1;  // types the engine makes for itself
inline constexpr int32_t kIntegerTypeClass = 1;
inline constexpr int32_t kStringTypeClass = 2;
inline constexpr int32_t kDoubleTypeClass = 3;

class TFieldType : public TRCObject {
 public:
  // The type's number in the field type registry; -1 for a type the engine
  // created for its own records (time stamps, addresses).
  int32_t ClassNumber() const { return Class; }
  // Byte width of a field of this type; always > 0.
  int32_t Size() const { return Width; }

  // Writes the instance's parameters (not the class number).
  virtual void WriteTypeParameters(TWriter& writer) const = 0;

 protected:
  // REQUIRES: size > 0.
  TFieldType(int32_t classNumber, int32_t size);
  ~TFieldType() override = default;

 private:
  int32_t Class;
  int32_t Width;
};

class TIntegerType final : public TFieldType {
 public:
  // REQUIRES: size > 0.
  TIntegerType(int32_t classNumber, int32_t size) : TFieldType(classNumber, size) {}

  // Reads the byte size, 1..kMaxFieldSize (else EReaderSyntaxError).
  static Ref<TFieldType> ReadTypeParameters(TReader& reader, int32_t classNumber);
  // Writes the byte size.
  void WriteTypeParameters(TWriter& writer) const override;
};

class TStringType final : public TFieldType {
 public:
  // REQUIRES: size > 0.
  TStringType(int32_t classNumber, int32_t size) : TFieldType(classNumber, size) {}

  // Reads the byte size, 1..kMaxFieldSize (else EReaderSyntaxError).
  static Ref<TFieldType> ReadTypeParameters(TReader& reader, int32_t classNumber);
  // Writes the byte size.
  void WriteTypeParameters(TWriter& writer) const override;
};

class TDoubleType final : public TFieldType {
 public:
  static constexpr int32_t kSize = 8;

  explicit TDoubleType(int32_t classNumber) : TFieldType(classNumber, kSize) {}

  // Reads nothing.
  static Ref<TFieldType> ReadTypeParameters(TReader& reader, int32_t classNumber);
  // Writes nothing.
  void WriteTypeParameters(TWriter& writer) const override;
};

// Makes a field type of one class from its parameters in `reader`; the new
// type carries `classNumber`.
using TFieldTypeFactory = Ref<TFieldType> (*)(TReader& reader, int32_t classNumber);

// The field type registry: "INTEGER", "STRING", "DOUBLE" at the numbers
// above, filled at construction and never changed.
class TFieldTypeClassVector final : public TClassVector<TFieldTypeFactory> {
 public:
  TFieldTypeClassVector();
};

// Reads a type name (case ignored) and that class's parameters; returns the
// new type. An unknown name or bad parameters raise EReaderSyntaxError.
Ref<TFieldType> ReadFieldType(const TFieldTypeClassVector& registry, TReader& reader);

// Writes the type's class number (WriteInteger), then its parameters.
void WriteFieldType(TWriter& writer, const TFieldType& fieldType);

}  // namespace kor
