#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/base/log.h"
#include "engine/base/numeric.h"
#include "engine/base/ref.h"

#include "engine/storage/index.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_ptr.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

#include "tests/support/temp_dir.h"

// Model-based test of the B-tree: long seeded random sequences of
// operations applied to an index with several cursors and, in step, to an
// ordered map with model cursors; after every step the two must agree and
// the tree must keep every rule of index.cpp (CheckInvariants).
//
// The operation interpreter (THarness::Apply) takes any operation in any
// state: one that does not apply (a step of a detached cursor, a second
// insertion of a key, a deletion without an entry) changes neither side.
// So a fuzzer can feed it decoded bytes as they come (DecodeOp).
//
// Replay: the seed is printed; KOR_SEED=<n> fixes it.

namespace kor {
namespace index_model {

// Keys: two INTEGER 4 fields A and B, ordered by A then B, then an
// optional STRING pad field outside the order whose bytes all hold the
// entry's pad value (Replace changes it).
struct TModelKey {
  int32_t A;
  int32_t B;
  auto operator<=>(const TModelKey&) const = default;
};

enum class TOpKind : uint8_t {
  Insert,     // through the cursor: Key with Pad
  Delete,     // the cursor's entry
  DeleteKey,  // Seek Key on all fields, then Delete when it is there
  Seek,       // Key on FieldCount fields (-1: all), Forward or backward
  Next,
  Prior,
  GoBeforeFirst,
  GoAfterLast,
  Detach,
  Replace,      // the cursor's entry gets Pad
  Walk,         // a fresh cursor over the whole tree, Forward or backward
  ReleaseIdle,  // drop the idle page objects; they are read back on use
  Count
};

struct TOp {
  TOpKind Kind = TOpKind::Next;
  int32_t Cursor = 0;
  TModelKey Key = {0, 0};
  int32_t FieldCount = -1;
  bool Forward = true;
  unsigned char Pad = 0;
};

std::string Describe(const TOp& op) {
  static const char* const kNames[] = {"Insert", "Delete",  "DeleteKey",     "Seek",
                                       "Next",   "Prior",   "GoBeforeFirst", "GoAfterLast",
                                       "Detach", "Replace", "Walk",          "ReleaseIdle"};
  return std::string(kNames[static_cast<int>(op.Kind)]) + " cursor " + std::to_string(op.Cursor) +
         " key (" + std::to_string(op.Key.A) + "," + std::to_string(op.Key.B) + ") fields " +
         std::to_string(op.FieldCount) + (op.Forward ? " forward" : " backward") + " pad " +
         std::to_string(op.Pad);
}

// An operation from 8 bytes of fuzzer input.
TOp DecodeOp(const unsigned char* bytes, int32_t cursors) {
  TOp op;
  op.Kind = static_cast<TOpKind>(bytes[0] % static_cast<int>(TOpKind::Count));
  op.Cursor = bytes[1] % cursors;
  op.Key = {static_cast<int8_t>(bytes[2]) / 4, bytes[3] % 64};
  op.FieldCount = bytes[4] % 4 - 1;
  op.Forward = (bytes[5] & 1) != 0;
  op.Pad = bytes[6];
  return op;
}

struct TConfig {
  int32_t PageShift;
  int32_t PadSize;
  bool Bitmap;
  int32_t Buffers;
  int32_t Cursors;
};

// Counts EntryChanged calls, as a table cursor would react to them.
class TCountingPtr final : public TIndexPtr {
 public:
  using TIndexPtr::TIndexPtr;
  int32_t Changes = 0;

 protected:
  void EntryChanged() override { ++Changes; }
};

class THarness {
 public:
  THarness(const std::string& fileName, const TConfig& config) : Config(config) {
    Type = MakeRef<TRecordType>();
    Type->AddField("A", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    Type->AddField("B", MakeRef<TIntegerType>(kIntegerTypeClass, 4));
    if (config.PadSize > 0) {
      Type->AddField("PAD", MakeRef<TStringType>(kStringTypeClass, config.PadSize));
    }
    Type->Freeze(config.Bitmap);
    auto comp = MakeRef<TRecordCompFunc>(Type);
    comp->AddPart(1, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
    comp->AddPart(2, MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass));
    File = MakeRef<TIndexFile>(fileName, config.PageShift, config.Buffers);
    Index = MakeRef<TIndex>(File, Type, std::move(comp));
    for (int32_t i = 0; i < config.Cursors; ++i) {
      Cursors.push_back(MakeRef<TCountingPtr>(Index));
      Models.push_back({});
      ExpectedChanges.push_back(0);
    }
  }
  ~THarness() {
    Cursors.clear();
    Index.ReleaseLast();
  }

  int32_t Degree() const { return Index->Degree(); }
  int32_t KeySize() const { return Index->KeySize(); }
  size_t Size() const { return Entries.size(); }
  const std::map<TModelKey, unsigned char>& Model() const { return Entries; }
  TIndexFile& IndexFile() const { return *File; }
  // What the last Verify found.
  const TIndexShape& Shape() const { return LastShape; }

  std::string Apply(const TOp& op) {
    TCountingPtr& cursor = *Cursors[static_cast<size_t>(op.Cursor)];
    TModelCursor& model = Models[static_cast<size_t>(op.Cursor)];
    switch (op.Kind) {
      case TOpKind::Insert:
        if (Entries.count(op.Key) != 0) return "";
        cursor.Insert(KeyBytes(op.Key, op.Pad).data());
        Entries[op.Key] = op.Pad;
        model = {TModelCursor::kOn, op.Key};
        return "";
      case TOpKind::Delete:
        if (model.State != TModelCursor::kOn) return "";
        cursor.Delete();
        Erase(model.Key);
        return "";
      case TOpKind::DeleteKey:
        if (Entries.count(op.Key) == 0) return "";
        cursor.Seek(KeyBytes(op.Key, 0).data(), -1, true);
        cursor.Delete();
        model = {};
        Erase(op.Key);
        return "";
      case TOpKind::Seek:
        cursor.Seek(KeyBytes(op.Key, 0).data(), op.FieldCount, op.Forward);
        model =
            op.Forward ? SeekForward(op.Key, op.FieldCount) : SeekBackward(op.Key, op.FieldCount);
        return "";
      case TOpKind::Next:
        if (model.State == TModelCursor::kDetached) return "";
        cursor.Next();
        model = Step(model, true);
        return "";
      case TOpKind::Prior:
        if (model.State == TModelCursor::kDetached) return "";
        cursor.Prior();
        model = Step(model, false);
        return "";
      case TOpKind::GoBeforeFirst:
        cursor.GoBeforeFirst();
        model = {TModelCursor::kBof, {}};
        return "";
      case TOpKind::GoAfterLast:
        cursor.GoAfterLast();
        model = {TModelCursor::kEof, {}};
        return "";
      case TOpKind::Detach:
        cursor.Detach();
        model = {};
        return "";
      case TOpKind::Replace:
        if (model.State != TModelCursor::kOn) return "";
        cursor.Replace(KeyBytes(model.Key, op.Pad).data());
        Entries[model.Key] = op.Pad;
        for (size_t i = 0; i < Models.size(); ++i) {
          if (Models[i].State == TModelCursor::kOn && Models[i].Key == model.Key) {
            ++ExpectedChanges[i];
          }
        }
        return "";
      case TOpKind::Walk:
        return Walk(op.Forward);
      case TOpKind::ReleaseIdle:
        Index->ReleaseIdlePages();
        return "";
      case TOpKind::Count:
        break;
    }
    return "unknown operation";
  }

  // Every cursor against its model, then the tree's rules and its size.
  std::string Verify() {
    int32_t onEntries = 0;
    for (size_t i = 0; i < Cursors.size(); ++i) {
      std::string failure = VerifyCursor(*Cursors[i], Models[i], ExpectedChanges[i]);
      if (!failure.empty()) return "cursor " + std::to_string(i) + ": " + failure;
      onEntries += Models[i].State == TModelCursor::kOn ? 1 : 0;
    }
    TIndexShape& shape = LastShape;
    std::string failure = Index->CheckInvariants(&shape);
    if (!failure.empty()) return failure;
    if (shape.Keys != static_cast<int32_t>(Entries.size())) {
      return "tree of " + std::to_string(shape.Keys) + " keys, model of " +
             std::to_string(Entries.size());
    }
    if (shape.Cursors != onEntries) {
      return std::to_string(shape.Cursors) + " cursors in page lists, " +
             std::to_string(onEntries) + " on entries";
    }
    // No operation pins more than three pages at once (a merge: two
    // siblings and their parent), so a pool of three never grows.
    if (File->BufferCount() > std::max(Config.Buffers, 3)) {
      return "pool grew to " + std::to_string(File->BufferCount()) + " buffers";
    }
    return "";
  }

 private:
  struct TModelCursor {
    enum TState { kDetached, kBof, kEof, kOn };
    TState State = kDetached;
    TModelKey Key = {0, 0};
  };
  using TIterator = std::map<TModelKey, unsigned char>::const_iterator;

  std::vector<unsigned char> KeyBytes(TModelKey key, unsigned char pad) const {
    std::vector<unsigned char> bytes(static_cast<size_t>(Type->RecordSize()));
    unsigned char field[4];
    EncodeInt32(field, key.A);
    Type->SetField(bytes.data(), 1, field);
    EncodeInt32(field, key.B);
    Type->SetField(bytes.data(), 2, field);
    if (Config.PadSize > 0) {
      std::vector<unsigned char> padding(static_cast<size_t>(Config.PadSize), pad);
      Type->SetField(bytes.data(), 3, padding.data());
    }
    return bytes;
  }

  void Erase(TModelKey key) {
    Entries.erase(key);
    for (TModelCursor& other : Models) {
      if (other.State == TModelCursor::kOn && other.Key == key) other = {};
    }
  }

  TModelCursor At(TIterator it, TModelCursor::TState otherwise) const {
    if (it == Entries.end()) return {otherwise, {}};
    return {TModelCursor::kOn, it->first};
  }

  // The first entry >= key on `fieldCount` fields, or after the last.
  TModelCursor SeekForward(TModelKey key, int32_t fieldCount) const {
    if (fieldCount == 0) return At(Entries.begin(), TModelCursor::kEof);
    if (fieldCount == 1) key.B = INT32_MIN;
    return At(Entries.lower_bound(key), TModelCursor::kEof);
  }

  // The last entry <= key on `fieldCount` fields, or before the first.
  TModelCursor SeekBackward(TModelKey key, int32_t fieldCount) const {
    TIterator it = Entries.end();
    if (fieldCount != 0) {
      if (fieldCount == 1) key.B = INT32_MAX;
      it = Entries.upper_bound(key);
    }
    if (it == Entries.begin()) return {TModelCursor::kBof, {}};
    return At(std::prev(it), TModelCursor::kBof);
  }

  TModelCursor Step(const TModelCursor& model, bool forward) const {
    if (forward) {
      if (model.State == TModelCursor::kEof) return model;
      return At(
          model.State == TModelCursor::kBof ? Entries.begin() : Entries.upper_bound(model.Key),
          TModelCursor::kEof);
    }
    if (model.State == TModelCursor::kBof) return model;
    TIterator it =
        model.State == TModelCursor::kEof ? Entries.end() : Entries.lower_bound(model.Key);
    if (it == Entries.begin()) return {TModelCursor::kBof, {}};
    return At(std::prev(it), TModelCursor::kBof);
  }

  std::string VerifyEntry(TIndexPtr& cursor, TModelKey key) const {
    auto it = Entries.find(key);
    if (it == Entries.end()) return "model cursor on a missing key";
    std::vector<unsigned char> expected = KeyBytes(key, it->second);
    cursor.Lock();
    bool same = memcmp(cursor.Entry(), expected.data(), expected.size()) == 0;
    int32_t a = DecodeInt32(cursor.Entry());
    cursor.Unlock();
    if (!same) {
      return "entry with A " + std::to_string(a) + " where (" + std::to_string(key.A) + "," +
             std::to_string(key.B) + ") pad " + std::to_string(it->second) + " was expected";
    }
    if (cursor.CompareEntry(expected.data(), -1) != 0) return "CompareEntry differs";
    return "";
  }

  std::string VerifyCursor(TCountingPtr& cursor, const TModelCursor& model, int32_t changes) const {
    bool detached = model.State == TModelCursor::kDetached;
    bool bof = model.State == TModelCursor::kBof;
    bool eof = model.State == TModelCursor::kEof;
    bool on = model.State == TModelCursor::kOn;
    if (cursor.IsDetached() != detached || cursor.IsBOF() != bof || cursor.IsEOF() != eof ||
        cursor.IsOnEntry() != on) {
      return std::string("state differs: detached ") + (cursor.IsDetached() ? "1" : "0") + " bof " +
             (cursor.IsBOF() ? "1" : "0") + " eof " + (cursor.IsEOF() ? "1" : "0") +
             ", model state " + std::to_string(static_cast<int>(model.State));
    }
    if (cursor.Changes != changes) {
      return std::to_string(cursor.Changes) + " EntryChanged calls, " + std::to_string(changes) +
             " expected";
    }
    return on ? VerifyEntry(cursor, model.Key) : "";
  }

  std::string Walk(bool forward) {
    auto cursor = MakeRef<TIndexPtr>(Index);
    if (forward) {
      cursor->GoBeforeFirst();
    } else {
      cursor->GoAfterLast();
    }
    auto check = [&](TModelKey key) -> std::string {
      if (forward) {
        cursor->Next();
      } else {
        cursor->Prior();
      }
      if (!cursor->IsOnEntry()) return "walk ended early";
      return VerifyEntry(*cursor, key);
    };
    if (forward) {
      for (const auto& [key, pad] : Entries) {
        if (std::string failure = check(key); !failure.empty()) return "walk: " + failure;
      }
      cursor->Next();
      if (!cursor->IsEOF()) return "walk did not end after the last entry";
    } else {
      for (auto it = Entries.rbegin(); it != Entries.rend(); ++it) {
        if (std::string failure = check(it->first); !failure.empty()) return "walk: " + failure;
      }
      cursor->Prior();
      if (!cursor->IsBOF()) return "walk did not end before the first entry";
    }
    return "";
  }

  TConfig Config;
  Ref<TRecordType> Type;
  Ref<TIndexFile> File;
  Ref<TIndex> Index;
  std::vector<Ref<TCountingPtr>> Cursors;
  std::vector<TModelCursor> Models;
  std::vector<int32_t> ExpectedChanges;  // EntryChanged calls per cursor
  std::map<TModelKey, unsigned char> Entries;
  TIndexShape LastShape;
};

}  // namespace index_model

namespace {

using namespace index_model;

uint64_t BaseSeed() {
  static const uint64_t seed = [] {
    const char* fixed = getenv("KOR_SEED");
    uint64_t value =
        fixed != nullptr && *fixed != '\0' ? strtoull(fixed, nullptr, 10) : std::random_device{}();
    printf("index model test: KOR_SEED=%" PRIu64 "\n", value);
    return value;
  }();
  return seed;
}

// Random operations, weighted for a phase that grows the tree to `target`
// keys or shrinks it.
class TOpGenerator {
 public:
  TOpGenerator(uint64_t seed, int32_t cursors) : Random(seed), Cursors(cursors) {}

  TOp Next(const THarness& harness, bool growing) {
    static constexpr int kGrow[] = {40, 4, 8, 15, 12, 12, 2, 2, 1, 3, 1, 1};
    static constexpr int kShrink[] = {8, 10, 40, 15, 12, 12, 2, 2, 1, 3, 1, 1};
    const int* weights = growing ? kGrow : kShrink;
    int total = 0;
    for (int i = 0; i < static_cast<int>(TOpKind::Count); ++i) total += weights[i];
    int pick = Uniform(0, total - 1);
    int kind = 0;
    while (pick >= weights[kind]) pick -= weights[kind++];
    TOp op;
    op.Kind = static_cast<TOpKind>(kind);
    op.Cursor = Uniform(0, Cursors - 1);
    op.Key = RandomKey();
    op.FieldCount = Uniform(-1, 2);
    op.Forward = Uniform(0, 1) == 1;
    op.Pad = static_cast<unsigned char>(Uniform(0, 255));
    const auto& model = harness.Model();
    if (op.Kind == TOpKind::Insert) {
      for (int tries = 0; tries < 8 && model.count(op.Key) != 0; ++tries) op.Key = RandomKey();
    } else if (op.Kind == TOpKind::DeleteKey && !model.empty()) {
      op.Key = std::next(model.begin(), Uniform(0, static_cast<int>(model.size()) - 1))->first;
    }
    return op;
  }

 private:
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Random); }
  TModelKey RandomKey() { return {Uniform(-20, 19), Uniform(0, 63)}; }

  std::mt19937_64 Random;
  int32_t Cursors;
};

class IndexModelTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFile(Dir.File("KORLIB.OUT")); }
  test::TTempDir Dir;
};

// One run: grow to `target` keys, then shrink until the tree is empty.
void RunModel(const std::string& fileName, const TConfig& config, int32_t target, int32_t minHeight,
              uint64_t seed) {
  THarness harness(fileName, config);
  TOpGenerator generator(seed, config.Cursors);
  SCOPED_TRACE("page shift " + std::to_string(config.PageShift) + ", key of " +
               std::to_string(harness.KeySize()) +
               " bytes, t = " + std::to_string(harness.Degree()) + ", " +
               std::to_string(config.Buffers) + " buffers, seed " + std::to_string(seed));
  bool growing = true;
  int32_t maxSize = 0;
  int32_t maxHeight = 0;
  for (int64_t step = 0; step < 40 * int64_t{target}; ++step) {
    if (growing && static_cast<int32_t>(harness.Size()) >= target) growing = false;
    if (!growing && harness.Size() == 0) break;
    TOp op = generator.Next(harness, growing);
    std::string failure = harness.Apply(op);
    if (failure.empty()) failure = harness.Verify();
    ASSERT_EQ(failure, "") << "step " << step << ": " << Describe(op);
    maxSize = std::max(maxSize, static_cast<int32_t>(harness.Size()));
    maxHeight = std::max(maxHeight, harness.Shape().Height);
  }
  EXPECT_GE(maxHeight, minHeight);
  EXPECT_GE(maxSize, target);
  EXPECT_EQ(harness.Size(), 0u);
  // Empty again: only the root leaf holds a page.
  EXPECT_EQ(harness.IndexFile().FreePageCount(), harness.IndexFile().PageCount() - 1);
}

TEST_F(IndexModelTest, RandomOperationsAgreeWithAnOrderedMap) {
  struct TCase {
    int32_t PageShift;
    int32_t PadSize;
    bool Bitmap;
    int32_t Target;     // keys before the tree shrinks again
    int32_t MinHeight;  // levels the tree must reach on the way
  };
  const TCase cases[] = {
      {6, 0, false, 200, 4},     // t = 2, 8-byte keys
      {6, 4, false, 200, 4},     // t = 2, 12-byte keys
      {6, 0, true, 150, 4},      // t = 2, 9-byte keys
      {7, 8, true, 200, 3},      // t = 3, 17-byte keys
      {8, 20, true, 200, 3},     // t = 4, 29-byte keys
      {9, 40, false, 250, 3},    // t = 5, 48-byte keys
      {10, 100, true, 200, 3},   // t = 4, 109-byte keys
      {11, 0, false, 350, 2},    // t = 85
      {12, 200, false, 300, 2},  // t = 10, 208-byte keys
      {12, 0, true, 400, 2},     // t = 157
  };
  uint64_t seed = BaseSeed();
  int run = 0;
  for (const TCase& c : cases) {
    for (int32_t buffers : {1, 64}) {
      TConfig config{c.PageShift, c.PadSize, c.Bitmap, buffers, 4};
      RunModel(Dir.File("INDEX" + std::to_string(run)), config, c.Target, c.MinHeight, seed + run);
      ++run;
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(IndexModelTest, DecodedBytesDriveTheSameInterpreter) {
  // What a fuzzer would do: operations from arbitrary bytes, any of them
  // out of place.
  std::mt19937_64 random(BaseSeed() ^ 0x5eedULL);
  THarness harness(Dir.File("INDEX"), TConfig{6, 0, false, 2, 3});
  unsigned char bytes[8];
  for (int step = 0; step < 3000; ++step) {
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    TOp op = DecodeOp(bytes, 3);
    std::string failure = harness.Apply(op);
    if (failure.empty()) failure = harness.Verify();
    ASSERT_EQ(failure, "") << "step " << step << ": " << Describe(op);
  }
}

}  // namespace
}  // namespace kor
