#include "tools/kor/record_sinks.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tools/kor/field_values.h"
#include "tools/kor/kor_error.h"
#include "tools/kor/text_escape.h"

namespace kor::tool {

namespace {

constexpr const char* kNullText = "NULL";

[[noreturn]] void OutputFailed() {
  if (errno == EPIPE) throw TOutputClosed();
  throw TKorError(std::string("cannot write the output: ") + strerror(errno));
}

void WriteOut(FILE* out, const std::string& bytes) {
  if (fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) OutputFailed();
}

void FlushOut(FILE* out) {
  if (fflush(out) != 0) OutputFailed();
}

// A number field's text (INTEGER or DOUBLE).
void AppendNumber(std::string& out, const TField& field, const uint8_t* bytes) {
  if (field.Kind == TFieldKind::Double) return AppendDouble(out, bytes);
  AppendInteger(out, bytes, field.Size);
}

bool IsFinite(const uint8_t* bytes) {
  double value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return std::isfinite(value);
}

class TCsvSink final : public TRecordSink {
 public:
  TCsvSink(const TRecordLayout& layout, FILE* out) : Layout(layout), Out(out) {
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      if (i > 0) Line += ',';
      AppendCsvField(Line, Layout.Field(i).Name);
    }
    Line += '\n';
    WriteOut(Out, Line);
  }
  void Record(const uint8_t* record) override {
    Line.clear();
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      if (i > 0) Line += ',';
      if (Layout.IsNull(record, i)) continue;
      const TField& field = Layout.Field(i);
      if (field.Kind == TFieldKind::String) {
        AppendCsvField(Line, StringBytes(Layout.FieldBytes(record, i), field.Size));
      } else {
        AppendNumber(Line, field, Layout.FieldBytes(record, i));
      }
    }
    Line += '\n';
    WriteOut(Out, Line);
  }
  void Finish() override { FlushOut(Out); }

 private:
  const TRecordLayout& Layout;
  FILE* Out;
  std::string Line;
};

class TJsonSink final : public TRecordSink {
 public:
  TJsonSink(const TRecordLayout& layout, FILE* out) : Layout(layout), Out(out) {
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      std::string key = i == 0 ? "{" : ",";
      AppendJsonString(key, Layout.Field(i).Name);
      key += ':';
      Keys.push_back(std::move(key));
    }
  }
  void Record(const uint8_t* record) override {
    Line.clear();
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      Line += Keys[static_cast<size_t>(i)];
      const TField& field = Layout.Field(i);
      const uint8_t* bytes = Layout.FieldBytes(record, i);
      if (Layout.IsNull(record, i)) {
        Line += "null";
      } else if (field.Kind == TFieldKind::String) {
        AppendJsonString(Line, StringBytes(bytes, field.Size));
      } else if (field.Kind == TFieldKind::Double && !IsFinite(bytes)) {
        // JSON has no NaN or infinity: they go as the strings of their text.
        Line += '"';
        AppendDouble(Line, bytes);
        Line += '"';
      } else {
        AppendNumber(Line, field, bytes);
      }
    }
    Line += "}\n";
    WriteOut(Out, Line);
  }
  void Finish() override { FlushOut(Out); }

 private:
  const TRecordLayout& Layout;
  FILE* Out;
  std::vector<std::string> Keys;  // {"NAME": and ,"NAME":
  std::string Line;
};

class TAlignedSink final : public TRecordSink {
 public:
  TAlignedSink(const TRecordLayout& layout, FILE* out)
      : Layout(layout), Out(out), Widths(static_cast<size_t>(layout.FieldCount()), 0) {
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      Widths[static_cast<size_t>(i)] = AppendDisplayText(Cell, Layout.Field(i).Name);
      Cell.clear();
    }
  }
  void Record(const uint8_t* record) override {
    if (SampleCount < kAlignedSample) {
      for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
        const size_t width = FormatCell(record, i);
        size_t& column = Widths[static_cast<size_t>(i)];
        if (width > column) column = width;
        Sample += Cell;
        SampleCells.push_back(TCell{Sample.size(), width});
      }
      ++SampleCount;
      return;
    }
    if (!HeaderWritten) WriteSample();
    Line.clear();
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      const size_t width = FormatCell(record, i);
      AppendPadded(i, Cell.data(), Cell.size(), width);
    }
    EndLine();
  }
  void Finish() override {
    if (!HeaderWritten) WriteSample();
    FlushOut(Out);
  }

 private:
  struct TCell {
    size_t End;    // in Sample
    size_t Width;  // display width
  };

  // Formats field i of `record` into Cell; returns its display width.
  size_t FormatCell(const uint8_t* record, int32_t i) {
    Cell.clear();
    const TField& field = Layout.Field(i);
    if (Layout.IsNull(record, i)) {
      Cell = kNullText;
      return Cell.size();
    }
    const uint8_t* bytes = Layout.FieldBytes(record, i);
    if (field.Kind == TFieldKind::String)
      return AppendDisplayText(Cell, StringBytes(bytes, field.Size));
    AppendNumber(Cell, field, bytes);
    return Cell.size();
  }

  void AppendPadded(int32_t i, const char* text, size_t size, size_t width) {
    const size_t column = Widths[static_cast<size_t>(i)];
    const size_t pad = column > width ? column - width : 0;
    const bool last = i + 1 == Layout.FieldCount();
    if (i > 0) Line += "  ";
    if (Layout.Field(i).Kind == TFieldKind::String) {
      Line.append(text, size);
      if (!last) Line.append(pad, ' ');
    } else {
      Line.append(pad, ' ');
      Line.append(text, size);
    }
  }

  void EndLine() {
    Line += '\n';
    WriteOut(Out, Line);
  }

  void WriteSample() {
    HeaderWritten = true;
    Line.clear();
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      Cell.clear();
      const size_t width = AppendDisplayText(Cell, Layout.Field(i).Name);
      AppendPadded(i, Cell.data(), Cell.size(), width);
    }
    EndLine();
    Line.clear();
    for (int32_t i = 0; i < Layout.FieldCount(); ++i) {
      if (i > 0) Line += "  ";
      Line.append(Widths[static_cast<size_t>(i)], '-');
    }
    EndLine();
    size_t start = 0;
    for (size_t cell = 0; cell < SampleCells.size(); ++cell) {
      const int32_t i = static_cast<int32_t>(cell % Widths.size());
      if (i == 0) Line.clear();
      AppendPadded(i, Sample.data() + start, SampleCells[cell].End - start,
                   SampleCells[cell].Width);
      start = SampleCells[cell].End;
      if (i + 1 == Layout.FieldCount()) EndLine();
    }
    Sample.clear();
    Sample.shrink_to_fit();
    SampleCells.clear();
    SampleCells.shrink_to_fit();
  }

  const TRecordLayout& Layout;
  FILE* Out;
  std::vector<size_t> Widths;
  std::string Cell;
  std::string Line;
  // The first records, formatted, until the widths are known.
  std::string Sample;
  std::vector<TCell> SampleCells;
  int32_t SampleCount = 0;
  bool HeaderWritten = false;
};

}  // namespace

std::unique_ptr<TRecordSink> MakeRecordSink(TOutputFormat format, const TRecordLayout& layout,
                                            FILE* out) {
  switch (format) {
    case TOutputFormat::Csv:
      return std::make_unique<TCsvSink>(layout, out);
    case TOutputFormat::Json:
      return std::make_unique<TJsonSink>(layout, out);
    case TOutputFormat::Aligned:
      break;
  }
  return std::make_unique<TAlignedSink>(layout, out);
}

}  // namespace kor::tool
