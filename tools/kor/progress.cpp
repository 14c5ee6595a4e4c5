#include "tools/kor/progress.h"

#include <unistd.h>

#include <cstdio>

namespace kor::tool {

namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr int kBarWidth = 30;

}  // namespace

TProgress::TProgress(std::string label, bool forced, int64_t totalBytes)
    : Label(std::move(label)),
      Forced(forced),
      Terminal(isatty(STDERR_FILENO) == 1),
      TotalBytes(totalBytes),
      Start(TClock::now()),
      LastDraw(Start) {}

void TProgress::Update(int64_t records, int64_t bytes) {
  if (Forced) return Draw(records, bytes);
  if (!Terminal) return;
  const TClock::time_point now = TClock::now();
  if (now - Start < kQuietFor || now - LastDraw < kRedrawEvery) return;
  LastDraw = now;
  Draw(records, bytes);
}

void TProgress::Finish(int64_t records, int64_t bytes) {
  if (!Drawn && !Forced) return;
  Draw(records, bytes);
  fputc('\n', stderr);
}

void TProgress::Draw(int64_t records, int64_t bytes) {
  Drawn = true;
  std::string line = "\r" + Label + ": ";
  if (TotalBytes > 0) {
    const int64_t percent = bytes >= TotalBytes ? 100 : bytes * 100 / TotalBytes;
    const int filled = static_cast<int>(percent * kBarWidth / 100);
    line += '[' + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " +
            std::to_string(percent) + "% ";
  }
  line += std::to_string(records) + " records";
  fputs(line.c_str(), stderr);
  fflush(stderr);
}

}  // namespace kor::tool
