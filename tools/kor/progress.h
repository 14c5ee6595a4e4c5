#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kor::tool {

// A progress line on standard error, redrawn in place ("\r"): for a dump the
// records so far, for a load a bar over the input's bytes as well. It is
// drawn when standard error is a terminal and the work has run for a
// second (so short runs stay quiet), at most five times a second; or
// always, on every page, when forced (--progress), which also ends with a
// final line.
class TProgress {
 public:
  // `totalBytes` < 0: no bar.
  TProgress(std::string label, bool forced, int64_t totalBytes = -1);
  void Update(int64_t records, int64_t bytes = 0);
  // Draws the final state and ends the line, if anything was drawn or the
  // progress is forced.
  void Finish(int64_t records, int64_t bytes = 0);

 private:
  void Draw(int64_t records, int64_t bytes);

  using TClock = std::chrono::steady_clock;
  std::string Label;
  bool Forced;
  bool Terminal;
  bool Drawn = false;
  int64_t TotalBytes;
  TClock::time_point Start;
  TClock::time_point LastDraw;
};

}  // namespace kor::tool
