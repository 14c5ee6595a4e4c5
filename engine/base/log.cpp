#include "engine/base/log.h"

#include <cstdio>
#include <mutex>

#include "engine/platform/local_time.h"
#include "engine/platform/module_path.h"

namespace kor {

namespace {

// Lines come from session start and end and from the fatal report; in the
// server several threads may log, so the state has a lock of its own.
std::mutex LogLock;
std::string LogPath;
bool LogPathSet = false;
bool FirstLine = true;

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
  std::lock_guard guard(LogLock);
  LogPath = AbsolutePath(name);
  LogPathSet = true;
}

std::string LogFilePath() {
  std::lock_guard guard(LogLock);
  return LogPathSet ? LogPath : DefaultLogPath();
}

bool LogLine(std::string_view text) {
  std::lock_guard guard(LogLock);
  if (!LogPathSet) {
    LogPath = DefaultLogPath();
    LogPathSet = true;
  }
  TLocalDateTime now = CurrentLocalDateTime();
  std::string line = BaseName(HostProgramPath()) + " " + now.Date + " " + now.Time + "  ";
  line.append(text);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.pop_back();
  line += "\r\n";

  FILE* file = fopen(LogPath.c_str(), "ab");
  if (file == nullptr) {
    fwrite(line.data(), 1, line.size(), stderr);
    return false;
  }
  if (FirstLine) {
    fputs("\r\n", file);
    FirstLine = false;
  }
  fwrite(line.data(), 1, line.size(), file);
  return fclose(file) == 0;
}

}  // namespace kor
