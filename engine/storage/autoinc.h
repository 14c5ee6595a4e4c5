#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/containers.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/file.h"

// Named 64-bit counters kept in one small text file, the counter file. Each
// value is written to the file as it is handed out, so that no value is
// handed out twice across restarts, crashes included.
//
// The counter file as the engine writes it: one record per counter, records
// back to back, nothing else in the file. A record of a name of n bytes:
//
//   OFFSET   SIZE  DESCRIPTION
//   0        n     the name, an identifier (1 to 32 letters, digits and "_",
//                  not starting with a digit), upper case after a load
//   n        2     " $": a blank and a dollar sign
//   n + 2    16    the value: 16 upper-case hexadecimal digits, the high 32
//                  bits first, zero-padded
//   n + 18   2     CR LF
//
// A record is n + 2 + 16 + 2 = n + 20 bytes, and a counter's digits stay at
// a fixed offset (record start + n + 2) for the life of the file, so a value
// is rewritten in place without touching anything else; a value write never
// changes the file's size. On load any text that the configuration token
// reader reads as alternating identifiers and "$"-hexadecimal 64-bit numbers
// ("ab $ff", with blanks and {comments} anywhere between tokens) is accepted
// and the file is rewritten in the form above; so is a tail of zero bytes
// after the last record, which an append cut short by a crash leaves.
//
// A counter is in one of three states:
//   unattached  reserve -1: built, no file yet. Only Attach is allowed.
//   attached    reserve 0: the file holds exactly the next value.
//   reserved    reserve 1: the file holds the value after the next one.
// NextValue moves between attached and reserved; Advance needs attached;
// SetValue and Attach lead to attached. The file therefore always holds the
// next value or the one after it: a restart after a crash resumes from the
// file, never repeats a value and skips at most one.

namespace kor {

class TAutoinc final : public TRCObject {
 public:
  // An unattached counter whose next value is `value`.
  explicit TAutoinc(int64_t value);
  // Writes the in-memory value when attached (a clean shutdown leaves the
  // exact next value in the file), then releases the file.
  ~TAutoinc() override;

  // Gives the counter its file and the offset of its 16 digits there; writes
  // nothing (the file already holds the value).
  // REQUIRES: unattached, file not null, the digits lie within the file.
  void Attach(Ref<TFile> file, int64_t valueOffset);
  bool IsAttached() const { return Reserve >= 0; }

  // All of the following REQUIRE an attached counter.
  // Hands out the next value and advances it by 1; writes the file every
  // second call. Arithmetic wraps, as the two-word addition it replaces.
  int64_t NextValue();
  // Returns the value before and adds n, writing the new value at once when
  // n > 0 (n = 0 reads without writing).
  // REQUIRES: n >= 0 and nothing reserved (only the commit clock uses it,
  // and it never calls NextValue).
  int64_t Advance(int64_t n);
  // The next value, unchanged.
  int64_t Value() const;
  // Makes `value` the next value and writes it at once; drops any reserve.
  void SetValue(int64_t value);

 private:
  void WriteValue(int64_t value);

  Ref<TFile> File;
  int64_t ValueOffset = -1;
  int32_t Reserve = -1;  // see the states above
  int64_t Current;       // the next value to hand out
};

// The counters of one counter file, kept under their names in file order,
// and the open counter file itself.
class TAutoincVector final : public TObjectVector {
 public:
  // A vector over `file`; without a file CreateCounter is refused.
  explicit TAutoincVector(Ref<TFile> file = nullptr);

  // REQUIRES: 1 <= position <= Count(). A new reference.
  Ref<TAutoinc> Get(int32_t position) const;
  // The first counter whose name equals `name` ignoring case; null if none.
  Ref<TAutoinc> Find(std::string_view name) const;
  // Appends a counter with value 1 to the file and to the vector and returns
  // it (the vector keeps its own reference).
  // REQUIRES: a file, and `name` an identifier as the file records allow.
  // Raises EFileOpenError when the file would pass TFile::kMaxFileSize.
  Ref<TAutoinc> CreateCounter(std::string_view name);

 private:
  Ref<TFile> CounterFile;
};

// Reads the counter file, rewrites it in the canonical form and returns its
// counters, attached to the reopened file, which stays open (and locked
// against other writers) for as long as the vector or any counter lives.
// Raises EFileOpenError when the file is missing, another engine holds it or
// its canonical form would pass TFile::kMaxFileSize, and EReaderSyntaxError
// (with the input position set) when its text is malformed; the file is then
// unchanged.
Ref<TAutoincVector> LoadCounterFile(const std::string& fileName);

}  // namespace kor
