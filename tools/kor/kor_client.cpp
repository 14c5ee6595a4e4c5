#include "tools/kor/kor_client.h"

#include <cstring>

#include "engine/base/numeric.h"

#include "tools/kor/kor_error.h"

namespace kor::tool {

namespace {

constexpr int32_t kOk = 0;
// The wire's field type and comparator class numbers that have a
// parameter: the byte size of INTEGER and STRING, the collation of
// STRINGCOMPFUNC.
constexpr int32_t kStringCompFuncClass = 2;
// A reply's texts are names and collations; anything longer is not a reply
// of this protocol.
constexpr int32_t kMaxReplyString = 1 << 20;
constexpr size_t kReplyChunk = 64 * 1024;

}  // namespace

TKorClient::TKorClient(TTransport& transport) : Transport(transport) {
  if (GetString() != "KOR" || GetString() != "V 0.3") Malformed("greeting other than KOR V 0.3");
}

// ---- Encoding ----

void TKorClient::BeginRequest(TCommand command) {
  Request.clear();
  PutInt(static_cast<int32_t>(command));
}

void TKorClient::PutInt(int32_t value) {
  unsigned char bytes[4];
  EncodeInt32(bytes, value);
  Request.insert(Request.end(), bytes, bytes + 4);
}

void TKorClient::PutBytes(const uint8_t* bytes, size_t count) {
  Request.insert(Request.end(), bytes, bytes + count);
}

void TKorClient::Send() { Transport.Send(Request); }

// ---- Decoding ----

const uint8_t* TKorClient::GetBytes(size_t count) {
  if (ReplyEnd - ReplyBegin < count) {
    // Move what is left to the front, make room and read until it is there.
    CopyBytes(Reply.data() + ReplyBegin, Reply.data(), ReplyEnd - ReplyBegin);
    ReplyEnd -= ReplyBegin;
    ReplyBegin = 0;
    if (Reply.size() < count || Reply.size() < kReplyChunk) {
      Reply.resize(std::max(count, kReplyChunk));
    }
    while (ReplyEnd < count) {
      ReplyEnd += Transport.Receive(Reply.data() + ReplyEnd, Reply.size() - ReplyEnd);
    }
  }
  const uint8_t* bytes = Reply.data() + ReplyBegin;
  ReplyBegin += count;
  return bytes;
}

int32_t TKorClient::GetInt() { return DecodeInt32(GetBytes(4)); }

std::string TKorClient::GetString() {
  const int32_t length = GetInt();
  if (length < 0 || length > kMaxReplyString)
    Malformed("string of length " + std::to_string(length));
  const uint8_t* bytes = GetBytes(static_cast<size_t>(length));
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
}

void TKorClient::ExpectOk(TCommand command) {
  const int32_t reply = GetInt();
  if (reply != kOk) {
    Malformed("reply " + std::to_string(reply) + " to command " +
              std::to_string(static_cast<int32_t>(command)));
  }
}

void TKorClient::Malformed(const std::string& what) const {
  throw TKorError(Transport.Name() + ": unexpected reply: " + what);
}

// ---- Catalogue ----

std::vector<TNamedEntry> TKorClient::ListNames(TCommand command) {
  BeginRequest(command);
  Send();
  ExpectOk(command);
  const int32_t count = GetInt();
  if (count < 0) Malformed("negative count");
  std::vector<TNamedEntry> names;
  for (int32_t i = 0; i < count; ++i) {
    std::string name = GetString();
    names.push_back(TNamedEntry{std::move(name), GetInt()});
  }
  return names;
}

TRecordLayout TKorClient::DescribeTable(int32_t table) {
  BeginRequest(TCommand::DescribeTable);
  PutInt(table);
  Send();
  ExpectOk(TCommand::DescribeTable);
  const int32_t count = GetInt();
  if (count < 1) Malformed("a table of " + std::to_string(count) + " fields");
  TRecordLayout layout;
  for (int32_t i = 0; i < count; ++i) {
    std::string name = GetString();
    const int32_t kind = GetInt();
    int32_t size = 8;
    if (kind == static_cast<int32_t>(TFieldKind::Integer) ||
        kind == static_cast<int32_t>(TFieldKind::String)) {
      size = GetInt();
    } else if (kind != static_cast<int32_t>(TFieldKind::Double)) {
      Malformed("field type " + std::to_string(kind));
    }
    if (size < 1 || size > 10000) Malformed("field size " + std::to_string(size));
    layout.AddField(std::move(name), static_cast<TFieldKind>(kind), size);
  }
  layout.Freeze();
  return layout;
}

TComparatorInfo TKorClient::DescribeComparator(int32_t comparator) {
  BeginRequest(TCommand::DescribeComparator);
  PutInt(comparator);
  Send();
  ExpectOk(TCommand::DescribeComparator);
  TComparatorInfo info;
  info.ClassNumber = GetInt();
  if (info.ClassNumber < 1 || info.ClassNumber > 3) {
    Malformed("comparator class " + std::to_string(info.ClassNumber));
  }
  if (info.ClassNumber == kStringCompFuncClass) info.Collation = GetString();
  return info;
}

void TKorClient::RaiseCounter(int32_t counter, int64_t value) {
  BeginRequest(TCommand::RaiseCounter);
  PutInt(counter);
  unsigned char bytes[8];
  EncodeInt64(bytes, value);
  PutBytes(bytes, sizeof bytes);
  Send();
  ExpectOk(TCommand::RaiseCounter);
}

// ---- Transactions ----

int32_t TKorClient::BeginTransaction() {
  BeginRequest(TCommand::BeginTransaction);
  Send();
  ExpectOk(TCommand::BeginTransaction);
  return GetInt();
}

int32_t TKorClient::BeginNestedTransaction(int32_t parent) {
  BeginRequest(TCommand::BeginNestedTransaction);
  PutInt(parent);
  Send();
  ExpectOk(TCommand::BeginNestedTransaction);
  return GetInt();
}

void TKorClient::CommitTransaction(int32_t transaction) {
  BeginRequest(TCommand::CommitTransaction);
  PutInt(transaction);
  Send();
  ExpectOk(TCommand::CommitTransaction);
}

void TKorClient::RollbackTransaction(int32_t transaction) {
  BeginRequest(TCommand::RollbackTransaction);
  PutInt(transaction);
  Send();
  ExpectOk(TCommand::RollbackTransaction);
}

// ---- Views ----

int32_t TKorClient::OpenTable(int32_t table, int32_t fieldCount, int32_t transaction,
                              const std::vector<TKeyPart>& order, int32_t recordSize) {
  BeginRequest(TCommand::OpenTable);
  PutInt(table);
  PutInt(fieldCount);
  for (int32_t field = 1; field <= fieldCount; ++field) PutInt(field);
  PutInt(transaction);
  PutInt(static_cast<int32_t>(order.size()));
  for (const TKeyPart& part : order) {
    PutInt(part.Field);
    PutInt(part.Comparator);
  }
  Send();
  ExpectOk(TCommand::OpenTable);
  const int32_t view = GetInt();
  if (view < 1) Malformed("view handle " + std::to_string(view));
  if (ViewSizes.size() <= static_cast<size_t>(view))
    ViewSizes.resize(static_cast<size_t>(view) + 1);
  ViewSizes[static_cast<size_t>(view)] = static_cast<size_t>(recordSize);
  return view;
}

void TKorClient::CloseTable(int32_t view) {
  BeginRequest(TCommand::CloseTable);
  PutInt(view);
  Send();
  ExpectOk(TCommand::CloseTable);
  ViewSizes[static_cast<size_t>(view)] = 0;
}

size_t TKorClient::ViewRecordSize(int32_t view) const {
  return ViewSizes.at(static_cast<size_t>(view));
}

int32_t TKorClient::SetTablePosition(int32_t view, int32_t mode) {
  BeginRequest(TCommand::SetTablePosition);
  PutInt(view);
  PutInt(mode);
  Send();
  return GetInt();
}

int32_t TKorClient::MoveBy(int32_t view, int32_t n, int32_t* steps) {
  BeginRequest(TCommand::MoveBy);
  PutInt(view);
  PutInt(n);
  Send();
  const int32_t status = GetInt();
  if ((status & kFailed) != 0) return status;  // refused: no step count follows
  const int32_t moved = GetInt();
  if (steps != nullptr) *steps = moved;
  return status;
}

int32_t TKorClient::SeekForward(int32_t view, const uint8_t* record, int32_t keyFields) {
  BeginRequest(TCommand::SeekForward);
  PutInt(view);
  PutBytes(record, ViewRecordSize(view));
  PutInt(keyFields);
  Send();
  return GetInt();
}

int32_t TKorClient::InsertRecord(int32_t view, const uint8_t* record) {
  BeginRequest(TCommand::InsertRecord);
  PutInt(view);
  PutBytes(record, ViewRecordSize(view));
  Send();
  return GetInt();
}

void TKorClient::StartBatch(int32_t view) {
  BeginRequest(TCommand::InsertRecords);
  PutInt(view);
  PutInt(0);  // the count, set by SendBatch
  BatchView = view;
  BatchRecordCount = 0;
}

uint8_t* TKorClient::AddBatchRecord() {
  const size_t size = ViewRecordSize(BatchView);
  Request.resize(Request.size() + size, 0);
  ++BatchRecordCount;
  return Request.data() + Request.size() - size;
}

int32_t TKorClient::SendBatch() {
  EncodeInt32(Request.data() + 8, BatchRecordCount);
  Send();
  return GetInt();
}

int32_t TKorClient::CloseSession() {
  BeginRequest(TCommand::CloseSession);
  Send();
  return GetInt();
}

}  // namespace kor::tool
