// The data commands on an open view (codes 9 to 19 and 28 to 30). Every
// record that crosses the wire here is one view record, exactly
// ViewRecordSize() bytes, read straight into the view's own buffer or
// written straight from it.
//
// Replies end with a status word: the view's Status(), plus kFailed when the
// command failed. A command refused by its precondition reads all of its
// arguments first, so that the next request starts where it should.

#include <limits>

#include "engine/base/exceptions.h"
#include "engine/base/fatal.h"

#include "engine/protocol/protocol_executor.h"
#include "engine/tables/table.h"

namespace kor {

namespace {

constexpr int32_t kFailed = 8;

// The modes of SetTablePosition: the Status() bit the view is to have.
constexpr int32_t kModeUnposition = 1;
constexpr int32_t kModeBeforeFirst = 2;
constexpr int32_t kModeAfterLast = 4;

int32_t ReadKeyFieldCount(TReader& reader, const TTable& view) {
  return ReadIntegerInRange(reader, 0, view.KeyFieldCount());
}

}  // namespace

void TProtocolExecutor::PerformDataCommand(TCommand command, TTable& view) {
  switch (command) {
    case TCommand::TableStatus:
      return WriteStatus(view, false);
    case TCommand::SetTablePosition:
      return SetTablePosition(view);
    case TCommand::SeekForward:
      return Seek(view, true);
    case TCommand::SeekBackward:
      return Seek(view, false);
    case TCommand::DeleteCurrentRecord:
      return DeleteCurrentRecord(view);
    case TCommand::InsertRecord:
      return InsertRecord(view);
    case TCommand::UpdateCurrentRecord:
      return UpdateCurrentRecord(view);
    case TCommand::MoveBy:
      return MoveBy(view);
    case TCommand::FetchForward:
      return Fetch(view, true);
    case TCommand::FetchBackward:
      return Fetch(view, false);
    case TCommand::FetchCurrentRecord:
      return FetchCurrentRecord(view);
    case TCommand::InsertRecords:
      return InsertRecords(view);
    case TCommand::DeleteRecordsByKey:
      return DeleteRecordsByKey(view);
    case TCommand::DeleteAllMatching:
      return DeleteAllMatching(view);
    default:
      FailIf(true);  // Perform routes only the data commands here
  }
}

void TProtocolExecutor::ReadViewRecord(TTable& view) {
  Reader->ReadBytes(view.ViewBuffer(), view.ViewRecordSize());
}

void TProtocolExecutor::WriteViewRecord(const TTable& view) {
  Writer->WriteBytes(view.ViewBuffer(), view.ViewRecordSize());
}

void TProtocolExecutor::SkipViewRecords(TTable& view, int32_t count) {
  for (; count > 0; --count) ReadViewRecord(view);
}

void TProtocolExecutor::WriteStatus(const TTable& view, bool failed) {
  Writer->WriteInteger(view.Status() + (failed ? kFailed : 0));
}

void TProtocolExecutor::SetTablePosition(TTable& view) {
  switch (Reader->ReadInteger()) {
    case kModeUnposition:
      view.Unposition();
      return WriteStatus(view, false);
    case kModeBeforeFirst:
      view.GoBeforeFirst();
      return WriteStatus(view, false);
    case kModeAfterLast:
      view.GoAfterLast();
      return WriteStatus(view, false);
    default:
      return WriteStatus(view, true);
  }
}

void TProtocolExecutor::Seek(TTable& view, bool forward) {
  ReadViewRecord(view);
  const int32_t fieldCount = ReadKeyFieldCount(*Reader, view);
  view.SeekKey(fieldCount, forward);
  WriteStatus(view, false);
}

void TProtocolExecutor::DeleteCurrentRecord(TTable& view) {
  WriteStatus(view, !view.IsOnRecord() || !view.Delete());
}

void TProtocolExecutor::InsertRecord(TTable& view) {
  ReadViewRecord(view);
  WriteStatus(view, !view.Insert());
}

// Off a record the update is refused like a delete there (Update itself
// refuses then too); the record read stays in the view buffer.
void TProtocolExecutor::UpdateCurrentRecord(TTable& view) {
  ReadViewRecord(view);
  WriteStatus(view, !view.IsOnRecord() || !view.Update());
}

void TProtocolExecutor::MoveBy(TTable& view) {
  const int32_t n = Reader->ReadInteger();
  if (view.Status() == TTable::kNoPosition) return WriteStatus(view, true);
  const int32_t steps = view.MoveBy(n);
  WriteStatus(view, false);
  Writer->WriteInteger(steps);
}

// Each fetched record goes out as status 0 and the record; the final status
// follows (0 when records remain, else the end reached).
void TProtocolExecutor::Fetch(TTable& view, bool forward) {
  int32_t n = ReadIntegerInRange(*Reader, 1, std::numeric_limits<int32_t>::max());
  const int32_t refusedAt = forward ? TTable::kBeforeFirst : TTable::kAfterLast;
  const int32_t endAt = forward ? TTable::kAfterLast : TTable::kBeforeFirst;
  const int32_t status = view.Status();
  if (status == TTable::kNoPosition || status == refusedAt) return WriteStatus(view, true);
  while (n > 0 && view.Status() != endAt && view.ReadCurrent()) {
    Writer->WriteInteger(0);
    WriteViewRecord(view);
    if (forward) {
      view.Next();
    } else {
      view.Prior();
    }
    --n;
  }
  WriteStatus(view, false);
}

void TProtocolExecutor::FetchCurrentRecord(TTable& view) {
  if (!view.ReadCurrent()) return WriteStatus(view, true);
  Writer->WriteInteger(0);
  WriteViewRecord(view);
}

void TProtocolExecutor::InsertRecords(TTable& view) {
  int32_t n = Reader->ReadInteger();
  bool failed = false;
  for (; n > 0 && !failed; --n) {
    ReadViewRecord(view);
    failed = !view.Insert();
  }
  SkipViewRecords(view, n);
  WriteStatus(view, failed);
}

// A key that no record matches is skipped without failure.
void TProtocolExecutor::DeleteRecordsByKey(TTable& view) {
  int32_t n = Reader->ReadInteger();
  const int32_t fieldCount = ReadKeyFieldCount(*Reader, view);
  bool failed = false;
  for (; n > 0 && !failed; --n) {
    ReadViewRecord(view);
    if (view.FindKey(fieldCount)) failed = !view.Delete();
  }
  SkipViewRecords(view, n);
  WriteStatus(view, failed);
}

// Deletes from the first record at or after the key while the records
// match it on `fieldCount` key fields; a refused delete stops it.
void TProtocolExecutor::DeleteAllMatching(TTable& view) {
  const int32_t fieldCount = ReadKeyFieldCount(*Reader, view);
  ReadViewRecord(view);
  view.SeekKey(fieldCount, true);
  bool failed = false;
  while (!failed && view.MatchesKey(view.SearchKey(), fieldCount)) failed = !view.Delete();
  WriteStatus(view, failed);
}

}  // namespace kor
