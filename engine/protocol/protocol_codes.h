#pragma once

#include <cstdint>

namespace kor {

// Command codes of the request protocol. A request is a command code (a
// 4-byte little-endian integer) followed by the command's arguments. These
// values are on the wire and never change.
enum class TCommand : int32_t {
  CloseSession = 1,
  FlushReplies = 2,
  BeginTransaction = 3,
  BeginNestedTransaction = 4,
  CommitTransaction = 5,
  RollbackTransaction = 6,
  OpenTable = 7,
  CloseTable = 8,
  TableStatus = 9,
  SetTablePosition = 10,
  SeekForward = 11,
  SeekBackward = 12,
  DeleteCurrentRecord = 13,
  InsertRecord = 14,
  UpdateCurrentRecord = 15,
  MoveBy = 16,
  FetchForward = 17,
  FetchBackward = 18,
  FetchCurrentRecord = 19,
  ListTables = 20,
  ListComparators = 21,
  DescribeTable = 22,
  DescribeComparator = 23,
  ListCounters = 24,
  NextCounterValue = 25,
  NoOperation = 26,
  OpenTableWithLookups = 27,
  InsertRecords = 28,
  DeleteRecordsByKey = 29,
  DeleteAllMatching = 30,
  RaiseCounter = 31,
};

inline constexpr int32_t kFirstCommand = 1;
inline constexpr int32_t kLastCommand = 31;

// Bits of the reply to CloseSession: what the session still had open.
inline constexpr int32_t kOpenTransactionsBit = 1;
inline constexpr int32_t kOpenTablesBit = 2;

}  // namespace kor
