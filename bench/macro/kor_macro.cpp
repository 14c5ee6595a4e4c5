// The macro benchmark's workloads on Kor through the exported functions
// of libkorjni.so (KorInit, KorWrite, KorRead, KorDone), as a C++ client
// drives the in-process session: each request written whole, its reply
// read with as few KorRead calls as its size allows. W1 and W6 use the
// batch commands (28, 29) with 1,000 records per request, the scans fetch
// 1,000 records per request (17).
//
//   kor_macro N
//   kor_macro N restart   (only W7 on the database a run left behind: for
//                          profiling the restart on its own)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/macro/kor_database.h"
#include "bench/macro/workload.h"
#include "korjni/exports.h"

namespace kor::bench {
namespace {

constexpr int32_t kBatch = 1000;
constexpr int32_t kRecordSize = 8 + kNameWidth + 8 + 1;  // ID, NAME, AMOUNT, null bitmap
constexpr int32_t kAllFields = 7;
constexpr int32_t kIdOnly = 1;
constexpr int32_t kTable = 1;
constexpr int32_t kIdField = 1, kNameField = 2;
constexpr int32_t kByNumber = 1, kByName = 2;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "kor_macro: %s\n", what);
  std::exit(1);
}

// One request's bytes.
class TRequest {
 public:
  TRequest& Int(int32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
      bytes[i] = static_cast<unsigned char>(static_cast<uint32_t>(value) >> (8 * i));
    Bytes.insert(Bytes.end(), bytes, bytes + 4);
    return *this;
  }
  TRequest& Int64(int64_t value) {
    for (int i = 0; i < 8; ++i)
      Bytes.push_back(static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i)));
    return *this;
  }
  // A view record of all three fields; only ID present when `keyOnly`.
  TRequest& Record(int64_t id, bool keyOnly, double amount = 0) {
    Int64(id);
    const size_t name = Bytes.size();
    Bytes.resize(name + kNameWidth + 8, 0);
    if (!keyOnly) {
      const std::string text = NameOf(id);
      std::memcpy(Bytes.data() + name, text.data(), text.size());
      std::memcpy(Bytes.data() + name + kNameWidth, &amount, 8);
    }
    Bytes.push_back(keyOnly ? kIdOnly : kAllFields);
    return *this;
  }
  void Send() {
    if (KorWrite(Bytes.data(), 0, static_cast<int32_t>(Bytes.size())) != 1)
      Fail("KorWrite refused");
    Bytes.clear();
  }

 private:
  std::vector<unsigned char> Bytes;
};

// Reply bytes, pulled from KorRead only while the reply being parsed needs
// more.
class TReply {
 public:
  TReply() : Buffer(1 << 20) {}
  int32_t Int() {
    Need(4);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Buffer[Pos + i]) << (8 * i);
    Pos += 4;
    return static_cast<int32_t>(value);
  }
  const unsigned char* Bytes(size_t count) {
    Need(count);
    const unsigned char* bytes = Buffer.data() + Pos;
    Pos += count;
    return bytes;
  }
  void Ok() {
    if (Int() != 0) Fail("reply not OK");
  }

 private:
  void Need(size_t count) {
    if (Len - Pos >= count) return;
    std::memmove(Buffer.data(), Buffer.data() + Pos, Len - Pos);
    Len -= Pos;
    Pos = 0;
    while (Len < count) {
      const int32_t got = KorRead(Buffer.data(), static_cast<int32_t>(Len),
                                  static_cast<int32_t>(Buffer.size() - Len));
      if (got <= 0) Fail("KorRead: no reply");
      Len += static_cast<size_t>(got);
    }
  }

  std::vector<unsigned char> Buffer;
  size_t Pos = 0;
  size_t Len = 0;
};

class TClient {
 public:
  void Open() {
    if (KorInit() != 1) Fail("KorInit failed");
    In = TReply();
    In.Bytes(16);  // greeting
  }
  void Close() {
    if (KorDone() != 1) Fail("KorDone failed");
  }
  int32_t Begin() {
    Out.Int(3).Send();
    In.Ok();
    return In.Int();
  }
  void Commit(int32_t tx) {
    Out.Int(5).Int(tx).Send();
    In.Ok();
  }
  int32_t OpenView(int32_t tx, int32_t field, int32_t comparator) {
    Out.Int(7)
        .Int(kTable)
        .Int(3)
        .Int(1)
        .Int(2)
        .Int(3)
        .Int(tx)
        .Int(1)
        .Int(field)
        .Int(comparator)
        .Send();
    In.Ok();
    return In.Int();
  }
  void CloseView(int32_t view) {
    Out.Int(8).Int(view).Send();
    In.Ok();
  }
  int32_t Status() { return In.Int(); }
  void ExpectStatus(int32_t expected, const char* what) {
    if (Status() != expected) Fail(what);
  }
  // Puts the view on its first record (before the first, one step on) and
  // returns the status there.
  int32_t First(int32_t view) {
    Out.Int(10).Int(view).Int(2).Int(16).Int(view).Int(1).Send();
    ExpectStatus(2, "position before first");
    const int32_t status = Status();
    In.Int();  // steps
    return status;
  }
  // Reads the whole view from the first record on; returns the count. A
  // fetch of n replies (0 record) for each record read, then the final
  // status: 0 while records remain, 4 at the end.
  int64_t Scan(int32_t view, double& sink) {
    if (First(view) != 0) return 0;
    int64_t rows = 0;
    for (;;) {
      Out.Int(17).Int(view).Int(kBatch).Send();
      int32_t status = 0;
      for (int32_t i = 0; i < kBatch && (status = Status()) == 0; ++i) {
        sink += Consume(In.Bytes(kRecordSize));
        ++rows;
        status = -1;
      }
      if (status == -1) status = Status();
      if (status != 0) return rows;
    }
  }
  static double Consume(const unsigned char* record) {
    int64_t id;
    double amount;
    std::memcpy(&id, record, 8);
    std::memcpy(&amount, record + 8 + kNameWidth, 8);
    return static_cast<double>(id) + amount + record[8];
  }

  TRequest Out;
  TReply In;
};

// W7: KorDone, KorInit and the first record in ID order.
void Restart(TClient& kor, const TReport& report, double& sink) {
  TStopwatch watch;
  kor.Close();
  kor.Open();
  const int32_t tx = kor.Begin();
  const int32_t view = kor.OpenView(tx, kIdField, kByNumber);
  if (kor.First(view) != 0) Fail("W7: no first record");
  kor.Out.Int(19).Int(view).Send();
  kor.In.Ok();
  sink += TClient::Consume(kor.In.Bytes(kRecordSize));
  report.PerOp("W7", watch, 1);
  kor.CloseView(view);
  kor.Commit(tx);
}

int RestartOnly(int64_t n) {
  TReport report("kor-c++", n);
  TClient kor;
  kor.Open();
  double sink = 0;
  Restart(kor, report, sink);
  kor.Close();
  return 0;
}

int Run(int64_t n) {
  CreateKorDatabase();
  TReport report("kor-c++", n);
  TClient kor;
  kor.Open();
  double sink = 0;

  {  // W1
    TStopwatch watch;
    const int32_t tx = kor.Begin();
    kor.CloseView(kor.OpenView(tx, kNameField, kByName));  // the NAME index, kept from now on
    const int32_t view = kor.OpenView(tx, kIdField, kByNumber);
    for (int64_t first = 1; first <= n; first += kBatch) {
      const int64_t last = std::min<int64_t>(n, first + kBatch - 1);
      kor.Out.Int(28).Int(view).Int(static_cast<int32_t>(last - first + 1));
      for (int64_t id = first; id <= last; ++id) kor.Out.Record(id, false, AmountOf(id));
      kor.Out.Send();
      if ((kor.Status() & 8) != 0) Fail("insert refused");
    }
    kor.CloseView(view);
    kor.Commit(tx);
    report.PerOp("W1", watch, n);
  }
  const int32_t reader = kor.Begin();
  const int32_t byId = kor.OpenView(reader, kIdField, kByNumber);
  const int32_t byName = kor.OpenView(reader, kNameField, kByName);
  {  // W2
    const std::vector<int64_t> order = Shuffled(n, kLookupSeed);
    TStopwatch watch;
    for (int64_t id : order) {
      kor.Out.Int(11).Int(byId).Record(id, true).Int(1).Int(19).Int(byId).Send();
      kor.ExpectStatus(0, "seek");
      kor.In.Ok();
      sink += TClient::Consume(kor.In.Bytes(kRecordSize));
    }
    report.PerOp("W2", watch, n);
  }
  {  // W3
    TStopwatch watch;
    if (kor.Scan(byId, sink) != n) Fail("W3 count");
    report.PerOp("W3", watch, n);
  }
  {  // W4
    TStopwatch watch;
    if (kor.Scan(byName, sink) != n) Fail("W4 count");
    report.PerOp("W4", watch, n);
  }
  kor.CloseView(byName);
  kor.CloseView(byId);
  kor.Commit(reader);
  {  // W5
    const std::vector<int64_t> order = Shuffled(n, kUpdateSeed);
    const int64_t count = n / 10;
    TStopwatch watch;
    const int32_t tx = kor.Begin();
    const int32_t view = kor.OpenView(tx, kIdField, kByNumber);
    for (int64_t i = 0; i < count; ++i) {
      const int64_t id = order[static_cast<size_t>(i)];
      kor.Out.Int(11).Int(view).Record(id, true).Int(1);
      kor.Out.Int(15).Int(view).Record(id, false, UpdatedAmount(id)).Send();
      kor.ExpectStatus(0, "seek");
      kor.ExpectStatus(0, "update");
    }
    kor.CloseView(view);
    kor.Commit(tx);
    report.PerOp("W5", watch, count);
  }
  {  // W6
    const std::vector<int64_t> order = Shuffled(n, kDeleteSeed);
    const int64_t count = n / 10;
    TStopwatch watch;
    const int32_t tx = kor.Begin();
    const int32_t view = kor.OpenView(tx, kIdField, kByNumber);
    for (int64_t first = 0; first < count; first += kBatch) {
      const int64_t last = std::min<int64_t>(count, first + kBatch);
      kor.Out.Int(29).Int(view).Int(static_cast<int32_t>(last - first)).Int(1);
      for (int64_t i = first; i < last; ++i) kor.Out.Record(order[static_cast<size_t>(i)], true);
      kor.Out.Send();
      if ((kor.Status() & 8) != 0) Fail("delete refused");
    }
    kor.CloseView(view);
    kor.Commit(tx);
    report.PerOp("W6", watch, count);
  }
  Restart(kor, report, sink);  // W7
  kor.Close();
  report.Peak();
  std::fprintf(stderr, "kor_macro: checksum %.2f\n", sink);
  return 0;
}

}  // namespace
}  // namespace kor::bench

int main(int argc, char** argv) {
  const int64_t n = kor::bench::ParseCount(argc, argv);
  if (n < 10) {
    std::fprintf(stderr, "usage: kor_macro N (N >= 10)\n");
    return 1;
  }
  if (argc > 2 && std::strcmp(argv[2], "restart") == 0) return kor::bench::RestartOnly(n);
  return kor::bench::Run(n);
}
