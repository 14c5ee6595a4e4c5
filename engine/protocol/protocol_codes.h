#pragma once

#include <cstdint>

namespace kor {

// Command codes of the request protocol. A request is a command code (a
// 4-byte little-endian integer) followed by the command's arguments; there
// is no other framing. These values are on the wire and never change.
//
// Wire values: int = 4 bytes little-endian signed; str = int length, then
// the bytes; int64 = 8 bytes little-endian signed; record = one view record
// of the view named (its fields at their declared widths in the order the
// view was opened with, then its null bitmap); OK = int 0; status = the
// view's Status() bits (1 no position, 2 before the first, 4 after the last
// record), plus 8 in the last status of a reply when the command failed.
// Numbers of tables, comparators and counters are 1..count; handles
// (tx, view) name live objects of this session.
//
//  code  arguments                              reply
//   1    -                                      mask (1 transactions, 2 views)
//   2    -                                      - (flushes)
//   3    -                                      OK tx
//   4    tx(parent)                             OK tx
//   5/6  tx                                     OK
//   7    table n*field tx keydef                OK view
//   8    view                                   OK
//   9    view                                   status
//  10    view mode(1|2|4)                       status
//  11/12 view record k                          status
//  13    view                                   status
//  14/15 view record                            status
//  16    view n                                 status steps
//  17/18 view n(>0)                             (0 record)* status
//  19    view                                   0 record | status
//  20/21/24  -                                  OK n (str number)*n
//  22    table                                  OK record type
//  23    comparator                             OK class parameters
//  25    counter                                OK int64
//  26    -                                      -
//  27    as 7, then lookups                     OK view
//  28    view n record*n                        status
//  29    view n k record*n                      status
//  30    view k record                          status
//  31    counter int64                          OK
// keydef = count(1..10000) (field comparator)*count; a lookup = view
// n*(kind data) n*field, kind 0 a field of the new view, kind 1 a constant
// of the key field's width, others nothing.
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
