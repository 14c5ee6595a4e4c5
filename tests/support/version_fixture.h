#pragma once

// Test helpers for transactions, raw tables and views: a transaction
// manager over a real counter file and index file in a temporary
// directory, record types made from short descriptions, and field access
// by number. Header-only, so that each test program takes what it uses.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/autoinc.h"
#include "engine/storage/index_file.h"
#include "engine/storage/transaction.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

#include "tests/support/temp_dir.h"

namespace kor::test {

// One field of a record type for MakeRecordType: 'I' INTEGER, 'S' STRING,
// 'D' DOUBLE, with its byte size (ignored for DOUBLE).
struct TFieldSpec {
  const char* Name;
  char Kind;
  int32_t Size;
};

inline Ref<TRecordType> MakeRecordType(const std::vector<TFieldSpec>& fields) {
  auto type = MakeRef<TRecordType>();
  for (const TFieldSpec& field : fields) {
    if (field.Kind == 'I') {
      type->AddField(field.Name, MakeRef<TIntegerType>(kIntegerTypeClass, field.Size));
    } else if (field.Kind == 'S') {
      type->AddField(field.Name, MakeRef<TStringType>(kStringTypeClass, field.Size));
    } else {
      type->AddField(field.Name, MakeRef<TDoubleType>(kDoubleTypeClass));
    }
  }
  type->Freeze(true);
  return type;
}

// Integer fields of 1 to 8 bytes, little-endian two's complement.
inline void SetInt(const TRecordType& type, unsigned char* record, int32_t field, int64_t value) {
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  FailIf(type.FieldSize(field) > 8);
  type.SetField(record, field, bytes);
}

inline std::optional<int64_t> GetInt(const TRecordType& type, const unsigned char* record,
                                     int32_t field) {
  const unsigned char* p = type.FieldPtr(record, field);
  if (p == nullptr) return std::nullopt;
  const int32_t size = type.FieldSize(field);
  uint64_t value = 0;
  for (int32_t i = size - 1; i >= 0; --i) value = value << 8 | p[i];
  if (size < 8 && (p[size - 1] & 0x80) != 0) value |= ~uint64_t{0} << (8 * size);
  return static_cast<int64_t>(value);
}

inline void SetText(const TRecordType& type, unsigned char* record, int32_t field,
                    const std::string& text) {
  std::string bytes = text;
  bytes.resize(static_cast<size_t>(type.FieldSize(field)), '\0');
  type.SetField(record, field, bytes.data());
}

inline std::optional<std::string> GetText(const TRecordType& type, const unsigned char* record,
                                          int32_t field) {
  const unsigned char* p = type.FieldPtr(record, field);
  if (p == nullptr) return std::nullopt;
  const size_t size = static_cast<size_t>(type.FieldSize(field));
  return std::string(reinterpret_cast<const char*>(p),
                     strnlen(reinterpret_cast<const char*>(p), size));
}

// A comparison of `type` over `fields`, each ordered by `compFunc`.
inline Ref<TRecordCompFunc> MakeOrder(TRecordType& type, const std::vector<int32_t>& fields,
                                      TFieldCompFunc& compFunc) {
  auto order = MakeRef<TRecordCompFunc>(Ref<TRecordType>::Share(type));
  for (int32_t field : fields) order->AddPart(field, Ref<TFieldCompFunc>::Share(compFunc));
  return order;
}

// The time counter file and index file of an engine, and its transaction
// manager. Open/Close may be repeated to restart over the same files; the
// caller releases its raw tables before Close.
class TVersionStorage {
 public:
  // `time` is the counter's value at the first Open; pages of
  // 2^pageShift bytes keep trees deep in small tests.
  explicit TVersionStorage(int64_t time = 10, int32_t pageShift = 8) : PageShift(pageShift) {
    SetLogFile(Dir.File("KORLIB.OUT"));
    WriteWholeFile(CounterFile(), "TIME $" + Int64ToHex(time) + "\r\n");
  }
  ~TVersionStorage() { Close(); }

  void Open() {
    FailIf(static_cast<bool>(Manager));
    Counters = LoadCounterFile(CounterFile());
    Ref<TAutoinc> time = Counters->Find("TIME");
    auto indexFile = MakeRef<TIndexFile>(Dir.File("INDEX.TMP"), PageShift, 4);
    Manager = MakeRef<TTransactionMgr>(std::move(time), std::move(indexFile));
  }
  void Close() {
    if (!Manager) return;
    Manager.ReleaseLast();
    Counters.ReleaseLast();
  }
  void Restart() {
    Close();
    Open();
  }

  TTransactionMgr& Mgr() const { return *Manager; }
  Ref<TTransactionMgr> MgrRef() const { return Manager; }
  Ref<TTransaction> Begin() const { return MakeRef<TTransaction>(Manager); }

  std::string File(const std::string& name) const { return Dir.File(name); }
  std::string CounterFile() const { return Dir.File("COUNTERS.ZSR"); }
  // The time counter as the file holds it.
  int64_t CounterInFile() const {
    std::string text = ReadWholeFile(CounterFile());
    return HexToInt64(text.substr(6, 16));
  }

 private:
  TTempDir Dir;
  int32_t PageShift;
  Ref<TAutoincVector> Counters;
  Ref<TTransactionMgr> Manager;
};

// A test whose objects must all be gone when it ends.
class TLeakCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override { LiveAtStart = TZObject::LiveObjectCount(); }
  // Call at the end of TearDown, after releasing everything.
  void ExpectNoLeak() { EXPECT_EQ(TZObject::LiveObjectCount(), LiveAtStart); }

  int32_t LiveAtStart = 0;
};

}  // namespace kor::test
