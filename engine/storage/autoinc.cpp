#include "engine/storage/autoinc.h"

#include <utility>
#include <vector>

#include "engine/platform/os_file.h"

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"
#include "engine/base/numeric.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/text_stream_reader.h"

namespace kor {

namespace {

constexpr int64_t kValueDigits = 16;
// " $" before the digits, CR LF after them (see the record layout in
// autoinc.h).
constexpr int64_t kDigitsOffsetInRecord = 2;
constexpr int64_t kRecordOverhead = kDigitsOffsetInRecord + kValueDigits + 2;
constexpr int64_t kFirstValue = 1;
constexpr size_t kMaxNameLength = 32;
constexpr int32_t kReadBufferSize = 4096;
constexpr size_t kWriteChunkSize = 64 * 1024;

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// A name that the token reader reads back as the same identifier.
bool IsCounterName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || !IsNameStart(name[0])) return false;
  for (char c : name) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

int64_t RecordLength(std::string_view name) {
  return static_cast<int64_t>(name.size()) + kRecordOverhead;
}

std::string CanonicalRecord(std::string_view name, int64_t value) {
  std::string record(name);
  record += " $";
  record += Int64ToHex(value);
  record += "\r\n";
  return record;
}

struct TCounterRecord {
  std::string Name;
  int64_t Value = 0;
};

// Past the last record the file may hold a run of zero bytes and nothing
// else: the trace of a CreateCounter cut short between extending the file
// (which fills with zeros) and writing the record. Such a tail holds no
// counter and is dropped; zero bytes followed by anything else are a syntax
// error. Returns whether the input ended after the zeros.
bool SkipInterruptedAppend(TTextStreamReader& reader) {
  if (reader.Current() != 0) return false;
  while (reader.Current() == 0) reader.NextChar();
  if (reader.Current() != TTextStreamReader::kEndOfInput) throw EReaderSyntaxError();
  return true;
}

// Reads name-value pairs in file order until the input ends where a record
// would start. `canonicalSize` receives the length of their canonical form.
std::vector<TCounterRecord> ReadCounterRecords(Ref<TFile> file, const std::string& fileName,
                                               int64_t& canonicalSize) {
  auto reader = MakeRef<TTextStreamReader>(
      MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)), kReadBufferSize),
      fileName);
  std::vector<TCounterRecord> records;
  canonicalSize = 0;
  try {
    for (;;) {
      try {
        reader->SkipBlanks();
      } catch (const EReaderEof&) {
        // The end between records (a comment left open at the end ends the
        // input the same way; it cannot hide a record).
        return records;
      } catch (const EReaderSyntaxError&) {
        if (SkipInterruptedAppend(*reader)) return records;
        throw;
      }
      TCounterRecord record;
      record.Name = reader->ReadIdent();
      try {
        record.Value = reader->ReadInt64();
      } catch (const EReaderEof&) {
        // A name at the end of the input is a cut record, not the end.
        throw EReaderSyntaxError();
      }
      canonicalSize += RecordLength(record.Name);
      // Checked as we go, so that a huge file stops early instead of
      // filling memory; the rewritten file must stay within a TFile's size.
      if (canonicalSize > TFile::kMaxFileSize) throw EFileOpenError();
      records.push_back(std::move(record));
    }
  } catch (EZException& e) {
    // Not swallowed: only marks where in the file the failure was met.
    e.SetInputPosition(reader->Position());
    throw;
  }
}

// Whether `file` holds exactly `records` in canonical form, `size` bytes.
bool HoldsCanonically(TFile& file, const std::vector<TCounterRecord>& records, int64_t size) {
  if (file.Size() != size) return false;
  std::string expected;
  expected.reserve(static_cast<size_t>(size));
  for (const TCounterRecord& record : records) {
    expected += CanonicalRecord(record.Name, record.Value);
  }
  std::string actual(static_cast<size_t>(size), '\0');
  file.Seek(0);
  file.Read(actual.data(), static_cast<int32_t>(size));
  return actual == expected;
}

// Creates `fileName` (truncating a stray one left by a crashed rewrite),
// writes the records in canonical form and forces them to the disk, so that
// the rename that follows can only ever put a complete file under the name.
void WriteCanonicalFile(const std::string& fileName, const std::vector<TCounterRecord>& records,
                        int64_t size) {
  auto file = MakeRef<TFile>(fileName, TCreationDisposition::CreateAlways);
  file->SetSize(size);
  file->Seek(0);
  std::string chunk;
  auto writeChunk = [&file, &chunk] {
    file->Write(chunk.data(), static_cast<int32_t>(chunk.size()));
    chunk.clear();
  };
  for (const TCounterRecord& record : records) {
    chunk += CanonicalRecord(record.Name, record.Value);
    if (chunk.size() >= kWriteChunkSize) writeChunk();
  }
  if (!chunk.empty()) writeChunk();
  FailIf(file->Position() != size);
  file->Sync();
  file.ReleaseLast();
}

}  // namespace

TAutoinc::TAutoinc(int64_t value) : Current(value) {}

TAutoinc::~TAutoinc() {
  if (IsAttached()) WriteValue(Current);
}

void TAutoinc::Attach(Ref<TFile> file, int64_t valueOffset) {
  FailIf(IsAttached() || !file || valueOffset < 0 || valueOffset + kValueDigits > file->Size());
  File = std::move(file);
  ValueOffset = valueOffset;
  Reserve = 0;
}

int64_t TAutoinc::NextValue() {
  FailIf(!IsAttached());
  if (Reserve == 0) {
    // One write buys two values: the file now holds the value after the
    // one that follows this call.
    WriteValue(AddToInt64(Current, 2));
    Reserve = 2;
  }
  int64_t value = Current;
  Current = AddToInt64(Current, 1);
  --Reserve;
  return value;
}

int64_t TAutoinc::Advance(int64_t n) {
  FailIf(!IsAttached() || Reserve != 0 || n < 0);
  int64_t before = Current;
  if (n > 0) {
    Current = static_cast<int64_t>(static_cast<uint64_t>(Current) + static_cast<uint64_t>(n));
    WriteValue(Current);
  }
  return before;
}

int64_t TAutoinc::Value() const {
  FailIf(!IsAttached());
  return Current;
}

void TAutoinc::SetValue(int64_t value) {
  FailIf(!IsAttached());
  Current = value;
  Reserve = 0;
  WriteValue(Current);
}

// One positioned write of the 16 digits over the old ones, not forced to the
// disk: once written the kernel holds the value, so a crash of the process
// (even SIGKILL) loses nothing and the restart resumes from it. A power loss
// may lose the last writes, as it may lose the last commits: the engine does
// not force its table files at commit either, and promises no more here.
void TAutoinc::WriteValue(int64_t value) {
  std::string digits = Int64ToHex(value);
  File->Seek(ValueOffset);
  File->Write(digits.data(), static_cast<int32_t>(digits.size()));
}

TAutoincVector::TAutoincVector(Ref<TFile> file) : CounterFile(std::move(file)) {}

Ref<TAutoinc> TAutoincVector::Get(int32_t position) const { return GetAs<TAutoinc>(position); }

Ref<TAutoinc> TAutoincVector::Find(std::string_view name) const {
  int32_t position = IndexOf(name);
  if (position < 0) return nullptr;
  return Get(position);
}

// The file is extended first (TFile never writes past its size), then the
// record is written into the new space; a crash between the two leaves zero
// bytes at the end, which the next load drops (SkipInterruptedAppend).
Ref<TAutoinc> TAutoincVector::CreateCounter(std::string_view name) {
  FailIf(!CounterFile || !IsCounterName(name));
  int64_t recordStart = CounterFile->Size();
  std::string record = CanonicalRecord(name, kFirstValue);
  int64_t newSize = recordStart + RecordLength(name);
  // One counter per declared table: a counter file of 2^31 bytes cannot be
  // reached by a sane structure file, but its size is not ours to assume.
  if (newSize > TFile::kMaxFileSize) throw EFileOpenError();
  CounterFile->SetSize(newSize);
  CounterFile->Seek(recordStart);
  CounterFile->Write(record.data(), static_cast<int32_t>(record.size()));
  auto counter = MakeRef<TAutoinc>(kFirstValue);
  counter->Attach(CounterFile,
                  recordStart + static_cast<int64_t>(name.size()) + kDigitsOffsetInRecord);
  Add(name, counter);
  return counter;
}

// Loading rewrites the counter file in canonical form. Rules:
//   1. A complete counter file is under the name at every moment. The new
//      text goes to fileName.TMP, is forced to the disk, and is renamed over
//      the name in one atomic step; the old file is never deleted first. A
//      crash before the rename leaves the old file (and a stray .TMP that
//      the next load truncates), a crash after it the new one. (The
//      directory is not forced: after a power loss the name may still show
//      the old file, which is complete as well.)
//   2. At most one engine holds the counters. The lock taken by TFile is per
//      file, not per name, so it must follow the name across the rename:
//      a. The counter file is opened, and so locked, before anything is read,
//         and stays open until the rewrite is done: until the rename, any
//         other loader fails on it with EFileOpenError. Only a holder of
//         that lock writes fileName.TMP, so no two rewrites interleave.
//      b. The .TMP is closed before the rename: its lock would refuse our
//         own reopen, locks being held per open file, not per process.
//      c. After the rename the new file is reopened, and locked, before the
//         old one is let go. Between the rename and the reopen the new file
//         is unlocked; a loader that opens it in that gap wins, our reopen
//         fails with EFileOpenError, and still only one engine holds it.
//   3. The lock is taken by name in two steps (open, then lock). A loader
//      whose open found the old file before the rename and whose lock came
//      only after 2c would hold a file that is no longer under the name. The
//      platform's open closes that gap only if, after locking, it checks
//      that the name still names the locked file.
Ref<TAutoincVector> LoadCounterFile(const std::string& fileName) {
  auto original = MakeRef<TFile>(fileName, TCreationDisposition::OpenExisting);
  int64_t size = 0;
  std::vector<TCounterRecord> records = ReadCounterRecords(original, fileName, size);

  std::string tempName = fileName + ".TMP";
  Ref<TFile> file;
  if (HoldsCanonically(*original, records, size)) {
    // Nothing to rewrite (the usual start): no temporary file, no sync.
    // A stray one left by a rewrite cut short goes, as a rewrite would
    // replace it.
    if (OsFileExists(tempName)) FailUnless(OsDeleteFile(tempName));
    file = std::move(original);
  } else {
    WriteCanonicalFile(tempName, records, size);
    FailUnless(OsReplaceFile(tempName, fileName));
    file = MakeRef<TFile>(fileName, TCreationDisposition::OpenExisting);
    original.ReleaseLast();
  }
  // Only a writer ignoring the lock could have changed the file since the
  // rename; the offsets below would not fit it.
  if (file->Size() != size) throw EFileOpenError();

  auto counters = MakeRef<TAutoincVector>(file);
  int64_t recordStart = 0;
  for (TCounterRecord& record : records) {
    auto counter = MakeRef<TAutoinc>(record.Value);
    counter->Attach(file,
                    recordStart + static_cast<int64_t>(record.Name.size()) + kDigitsOffsetInRecord);
    recordStart += RecordLength(record.Name);
    counters->Add(record.Name, std::move(counter));
  }
  return counters;
}

}  // namespace kor
