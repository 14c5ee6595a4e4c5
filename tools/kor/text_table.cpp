#include "tools/kor/text_table.h"

#include <algorithm>

namespace kor::tool {

namespace {

// Display width of UTF-8 text: its code points.
size_t Width(const std::string& text) {
  size_t width = 0;
  for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

}  // namespace

void TTextTable::Write(FILE* out) const {
  std::vector<size_t> widths;
  for (const TColumn& column : Columns) widths.push_back(Width(column.Header));
  for (const auto& row : Rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  auto writeRow = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      const size_t pad = widths[i] - Width(cells[i]);
      if (i > 0) line += "  ";
      if (Columns[i].RightAligned) line.append(pad, ' ');
      line += cells[i];
      if (!Columns[i].RightAligned && i + 1 < cells.size()) line.append(pad, ' ');
    }
    // An empty last cell leaves the separator behind.
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line += '\n';
    fputs(line.c_str(), out);
  };
  std::vector<std::string> header;
  std::vector<std::string> rule;
  for (size_t i = 0; i < Columns.size(); ++i) {
    header.push_back(Columns[i].Header);
    rule.emplace_back(widths[i], '-');
  }
  writeRow(header);
  writeRow(rule);
  for (const auto& row : Rows) writeRow(row);
}

}  // namespace kor::tool
