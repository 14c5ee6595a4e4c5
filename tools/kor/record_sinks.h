#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "tools/kor/record_layout.h"

namespace kor::tool {

enum class TOutputFormat { Aligned, Csv, Json };

// Writes the records of a dump in one output format. Each record is
// formatted into one reused line buffer and written with one call; nothing
// is allocated per record once the buffers have grown.
//
//   Aligned  a header of the field names, a rule, then one line per record;
//            numbers right-aligned, texts left-aligned, null as NULL. The
//            column widths are taken from the first kAlignedSample records
//            (later, wider values stretch their line only).
//   Csv      a header line, then one line per record (RFC 4180 quoting);
//            null is an empty field, the empty text a quoted "".
//   Json     one object per line, {"FIELD":value,...}: numbers, strings,
//            null; NaN and infinities as the strings "NaN", "Infinity".
class TRecordSink {
 public:
  static constexpr int32_t kAlignedSample = 1000;

  virtual ~TRecordSink() = default;
  // `record` is one view record of the layout given at creation.
  virtual void Record(const uint8_t* record) = 0;
  // Writes what is still held and flushes; TKorError when the output failed.
  virtual void Finish() = 0;
};

// The layout must outlive the sink.
std::unique_ptr<TRecordSink> MakeRecordSink(TOutputFormat format, const TRecordLayout& layout,
                                            FILE* out);

}  // namespace kor::tool
