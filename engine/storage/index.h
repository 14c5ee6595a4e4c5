#pragma once

#include <cstdint>
#include <string>

#include "engine/base/exceptions.h"
#include "engine/base/ref.h"

#include "engine/storage/index_file.h"
#include "engine/storage/re_object.h"
#include "engine/tables/record_comp_func.h"
#include "engine/tables/record_type.h"

namespace kor {

class TPage;

// What CheckInvariants found, for tests to compare with their model.
struct TIndexShape {
  int32_t Pages = 0;    // pages of the tree
  int32_t Keys = 0;     // keys of the tree
  int32_t Height = 0;   // levels, 1 for a root leaf
  int32_t Cursors = 0;  // cursors standing on entries
};

// A B-tree of minimum degree t over fixed-size keys (records of a key
// record type, ordered by a record comparison), in pages of an index file.
// Keys live in internal pages as well as leaves. Callers keep the keys
// unique: no two keys of a tree compare equal on all parts. Walked and
// changed through cursors (TIndexPtr, index_ptr.h). The tree's rules are
// numbered at the top of index.cpp.
//
// The index is the manager of its page objects (TREManager): it is active
// for its whole life, so page objects last until their page is freed, and
// it holds one use on the root.
class TIndex final : public TREManager {
 public:
  // Takes over the three references. Creates an empty root leaf.
  // REQUIRES: keyRecordType is frozen and is the type `comparison`
  // compares; DegreeFor(page size, key size) >= 2 (CheckKeyFitsPage checks
  // that for input).
  TIndex(Ref<TIndexFile> indexFile, Ref<TRecordType> keyRecordType,
         Ref<TRecordCompFunc> comparison);
  // Frees every page of the tree. No cursor can be left: each holds a
  // reference to the index.
  ~TIndex() override;

  // The largest t for which 2t-1 keys fit a page: 4 + 4 + (2t-1)(k+4) <=
  // page size, i.e. (page size + k - 4) div (2(k + 4)). A tree needs t >= 2.
  static int32_t DegreeFor(int32_t pageSize, int32_t keySize);

  TIndexFile& IndexFile() const { return *File; }
  const TRecordType& KeyRecordType() const { return *KeyType; }
  const TRecordCompFunc& Comparison() const { return *CompFunc; }
  int32_t KeySize() const { return KeyBytes; }
  int32_t Degree() const { return T; }
  int32_t MaxKeys() const { return 2 * T - 1; }
  int32_t MinKeys() const { return T - 1; }
  TPage& Root() const { return *RootPage; }

  // Orders key a against key b on their first `fieldCount` parts (-1: all).
  int Compare(const unsigned char* a, const unsigned char* b, int32_t fieldCount) const {
    return CompFunc->CompareRecords(a, b, fieldCount);
  }

  // Destroys the page objects nobody uses (uncached, no cursor, no loaded
  // child); their pages stay in the tree and are read again when visited.
  // REQUIRES: no activation other than the index's own.
  void ReleaseIdlePages();

  // Checks every rule of the tree (index.cpp) and returns "" when all hold,
  // else "rule N: ..." for the first broken one. Pins, and may load, pages:
  // a check costs reads but changes nothing the tree holds. Rule 10 is
  // checked as free pages + pages of this tree + pagesOfOtherIndexes = the
  // file's page count. Fills `shape` when given.
  std::string CheckInvariants(TIndexShape* shape = nullptr, int32_t pagesOfOtherIndexes = 0);

 private:
  friend class TPage;

  void FreeTree(TPage& page, int32_t levels);

  Ref<TIndexFile> File;
  TPage* RootPage = nullptr;
  int32_t KeyBytes;
  int32_t T;
  Ref<TRecordType> KeyType;
  Ref<TRecordCompFunc> CompFunc;
};

// For the configuration reader, before it creates an index over keys of
// `keySize` bytes in an index file of 2^pageShift-byte pages: raises
// EKeyTooLargeError (exceptions.h) when the tree could not hold three keys
// a page. It is a syntax error, so reading the structure file ends as it
// does for other bad structure. Its message is the family's ("<class>
// LastError: 0"); the sizes are in InputPosition(), as "key of N bytes does
// not fit three to a page of M bytes". A reader that adds its place in the
// input should put it in front of that text rather than replace it.
void CheckKeyFitsPage(int32_t keySize, int32_t pageShift);

}  // namespace kor
