#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kor::tool {

// A small table of text for the catalogue listings: a header, a rule and
// the rows, columns two blanks apart, each as wide as its widest cell.
// Cells are display text already (escaped where needed).
class TTextTable {
 public:
  struct TColumn {
    std::string Header;
    bool RightAligned = false;
  };
  explicit TTextTable(std::vector<TColumn> columns) : Columns(std::move(columns)) {}

  // REQUIRES: one cell per column.
  void AddRow(std::vector<std::string> cells) { Rows.push_back(std::move(cells)); }
  void Write(FILE* out) const;

 private:
  std::vector<TColumn> Columns;
  std::vector<std::vector<std::string>> Rows;
};

}  // namespace kor::tool
