#include "engine/base/log.h"

#include <cstdio>
#include <mutex>

#include "engine/platform/local_time.h"
#include "engine/platform/module_path.h"

namespace kor {

namespace {

// Lines come from session start and end and from the fatal report; in the
// server several threads may log, so the state has a lock of its own. The
// state is made on first use and never destroyed: the library fixes the log
// path from its load-time constructor, which may run before this file's
// static objects would be initialised, and a late report may log during
// static destruction.
struct TLogState {
  std::mutex Lock;
  std::string Path;
  bool PathSet = false;
  bool FirstLine = true;
};

TLogState& State() {
  static auto* state = new TLogState;
  return *state;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DefaultLogPath() {
  std::string program = HostProgramPath();
  size_t slash = program.find_last_of('/');
  std::string directory =
      slash == std::string::npos ? CurrentDirectory() : program.substr(0, slash);
  return directory + "/ERRORS.TXT";
}

}  // namespace

void SetLogFile(const std::string& name) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  state.Path = AbsolutePath(name);
  state.PathSet = true;
}

std::string LogFilePath() {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  return state.PathSet ? state.Path : DefaultLogPath();
}

bool LogLine(std::string_view text) {
  TLogState& state = State();
  std::lock_guard guard(state.Lock);
  if (!state.PathSet) {
    state.Path = DefaultLogPath();
    state.PathSet = true;
  }
  TLocalDateTime now = CurrentLocalDateTime();
  std::string line = BaseName(HostProgramPath()) + " " + now.Date + " " + now.Time + "  ";
  line.append(text);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.pop_back();
  line += "\r\n";

  FILE* file = fopen(state.Path.c_str(), "ab");
  if (file == nullptr) {
    fwrite(line.data(), 1, line.size(), stderr);
    return false;
  }
  if (state.FirstLine) {
    fputs("\r\n", file);
    state.FirstLine = false;
  }
  fwrite(line.data(), 1, line.size(), file);
  return fclose(file) == 0;
}

}  // namespace kor
