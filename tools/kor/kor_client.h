#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/protocol/protocol_codes.h"

#include "tools/kor/record_layout.h"
#include "tools/kor/transport.h"

namespace kor::tool {

struct TNamedEntry {
  std::string Name;
  int32_t Number = 0;
};

// A comparator as the engine describes it: its class (1 INTEGERCOMPFUNC,
// 2 STRINGCOMPFUNC, 3 DOUBLECOMPFUNC) and, for strings, the collation.
struct TComparatorInfo {
  int32_t ClassNumber = 0;
  std::string Collation;
};

// One part of a view's order: a field number (1-based, declared order) and
// a comparator number.
struct TKeyPart {
  int32_t Field = 0;
  int32_t Comparator = 0;
};

// Status bits of the data replies.
inline constexpr int32_t kNoPosition = 1;
inline constexpr int32_t kBeforeFirst = 2;
inline constexpr int32_t kAfterLast = 4;
inline constexpr int32_t kFailed = 8;
// Modes of SetTablePosition: the status the view is to have.
inline constexpr int32_t kModeUnposition = 1;
inline constexpr int32_t kModeBeforeFirst = 2;
inline constexpr int32_t kModeAfterLast = 4;

// The client end of one protocol session: each method encodes one request
// into the one request buffer, sends it and decodes its reply from the one
// reply buffer. Records are handed out as pointers into the reply buffer,
// so fetching allocates nothing per record. A reply that is not what the
// protocol promises raises TKorError; so does a session that ends.
class TKorClient {
 public:
  // Reads and checks the greeting ("KOR", "V 0.3").
  explicit TKorClient(TTransport& transport);
  TKorClient(const TKorClient&) = delete;
  TKorClient& operator=(const TKorClient&) = delete;

  const std::string& Name() const { return Transport.Name(); }

  // Catalogue (20, 21, 24, 22, 23).
  std::vector<TNamedEntry> ListTables() { return ListNames(TCommand::ListTables); }
  std::vector<TNamedEntry> ListComparators() { return ListNames(TCommand::ListComparators); }
  std::vector<TNamedEntry> ListCounters() { return ListNames(TCommand::ListCounters); }
  // The declared record type, frozen with its null bitmap: the layout of a
  // view that opens every field in order.
  TRecordLayout DescribeTable(int32_t table);
  TComparatorInfo DescribeComparator(int32_t comparator);
  // Raises the counter to `value` when it stands lower (31).
  void RaiseCounter(int32_t counter, int64_t value);

  // Transactions (3, 4, 5, 6); handles as the session gives them.
  int32_t BeginTransaction();
  int32_t BeginNestedTransaction(int32_t parent);
  void CommitTransaction(int32_t transaction);
  void RollbackTransaction(int32_t transaction);

  // Opens a view of every field of `table`, in declared order (7), ordered
  // by `order`; `fieldCount` fields and `recordSize` bytes per record.
  int32_t OpenTable(int32_t table, int32_t fieldCount, int32_t transaction,
                    const std::vector<TKeyPart>& order, int32_t recordSize);
  void CloseTable(int32_t view);

  // Data commands; each returns the reply's status word.
  int32_t SetTablePosition(int32_t view, int32_t mode);  // 10
  // 16; `steps` receives the number of moves made.
  int32_t MoveBy(int32_t view, int32_t n, int32_t* steps = nullptr);
  // 10 then 16: onto the first record; 0, or kAfterLast when there is none.
  int32_t MoveToFirst(int32_t view) {
    SetTablePosition(view, kModeBeforeFirst);
    return MoveBy(view, 1);
  }
  // 11: to the first record at or after `record`'s first `keyFields` parts.
  int32_t SeekForward(int32_t view, const uint8_t* record, int32_t keyFields);
  int32_t InsertRecord(int32_t view, const uint8_t* record);  // 14
  // 28, built in place in the request buffer: StartBatch, then AddBatchRecord
  // for each record (a zero-filled record to fill in, valid until the next
  // call), then SendBatch, which returns the status. The engine stops at the
  // first refusal and drops the rest of the batch. BatchRecords points at
  // the batch's records, back to back, until the next request.
  void StartBatch(int32_t view);
  uint8_t* AddBatchRecord();
  int32_t BatchCount() const { return BatchRecordCount; }
  const uint8_t* BatchRecords() const { return Request.data() + kBatchHeaderSize; }
  int32_t SendBatch();

  // 17: fetches up to n (>= 1) records, calling onRecord(const uint8_t*) for
  // each with a pointer that stays valid until the call returns. Returns the
  // final status: 0 while records remain, kAfterLast at the end, or the
  // refusal (status plus kFailed) when the view stood before the first.
  template <typename TOnRecord>
  int32_t FetchForward(int32_t view, int32_t n, TOnRecord&& onRecord) {
    BeginRequest(TCommand::FetchForward);
    PutInt(view);
    PutInt(n);
    Send();
    const size_t size = ViewRecordSize(view);
    for (int32_t fetched = 0;; ++fetched) {
      const int32_t status = GetInt();
      if (status != 0 || fetched == n) return status;
      onRecord(GetBytes(size));
    }
  }

  // Ends the session (1); returns what it still held open.
  int32_t CloseSession();

 private:
  std::vector<TNamedEntry> ListNames(TCommand command);
  size_t ViewRecordSize(int32_t view) const;

  void BeginRequest(TCommand command);
  void PutInt(int32_t value);
  void PutBytes(const uint8_t* bytes, size_t count);
  void Send();
  // The next reply bytes, read from the transport as needed; the pointer
  // stays valid until the next Get.
  const uint8_t* GetBytes(size_t count);
  int32_t GetInt();
  std::string GetString();
  void ExpectOk(TCommand command);
  [[noreturn]] void Malformed(const std::string& what) const;

  TTransport& Transport;
  std::vector<uint8_t> Request;
  std::vector<uint8_t> Reply;
  size_t ReplyBegin = 0;  // first unread byte
  size_t ReplyEnd = 0;    // end of the bytes received
  // Record size of each open view, by handle.
  std::vector<size_t> ViewSizes;
  // The batch being built: command, view, count, then the records.
  static constexpr size_t kBatchHeaderSize = 12;
  int32_t BatchView = 0;
  int32_t BatchRecordCount = 0;
};

}  // namespace kor::tool
