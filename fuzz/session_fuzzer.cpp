// Feeds arbitrary request bytes to an in-process session over a database
// and proves that no input ends the process: every input runs on a fresh
// copy of the database, to the end of its bytes (or to the request that
// ends the session), and closing the session afterwards must find no engine
// object alive (CloseSession ends the process through the fatal report
// otherwise, which the fuzzer reports as a crash).
//
// The database is the directory named by KOR_FUZZ_DATABASE, else the one
// compiled in (the example database). Its files are read once; before each
// input they are written back into a private working directory, which is
// the current directory while the fuzzer runs.

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"

#include "korjni/session.h"

namespace {

struct TDatabaseFile {
  std::string Name;
  std::string Bytes;
};

std::vector<TDatabaseFile> DatabaseFiles;
std::string WorkDir;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "session_fuzzer: %s\n", message.c_str());
  std::exit(2);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) Fail("cannot list " + dir);
  while (dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(handle);
  return names;
}

// Puts the working directory back to the database as it was read: every
// file rewritten, anything a session created (table files) removed.
void RestoreDatabase() {
  for (const std::string& name : FileNames(".")) {
    if (name != "FUZZ.LOG") std::remove(name.c_str());
  }
  for (const TDatabaseFile& file : DatabaseFiles) WriteFile(file.Name, file.Bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const char* source = std::getenv("KOR_FUZZ_DATABASE");
  const std::string database = source != nullptr ? source : KOR_FUZZ_DEFAULT_DATABASE;
  for (const std::string& name : FileNames(database)) {
    DatabaseFiles.push_back({name, ReadFile(database + "/" + name)});
  }
  char pattern[] = "/tmp/kor-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("cannot make a working directory");
  WorkDir = pattern;
  if (chdir(WorkDir.c_str()) != 0) Fail("cannot enter " + WorkDir);
  kor::SetLogFile(WorkDir + "/FUZZ.LOG");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return -1;  // keep inputs to what one session plausibly sends
  RestoreDatabase();
  std::string failure;
  if (kor::OpenSession(failure) != kor::TOpenResult::Opened) Fail("cannot open: " + failure);
  kor::WriteSession(data, static_cast<int32_t>(size));
  unsigned char reply[4096];
  for (;;) {
    try {
      if (kor::ReadSession(reply, sizeof reply) < 0) break;
    } catch (const kor::EZException&) {
      // What the exported functions turn into a failed call; the session
      // stays open and the next read goes on with the next request.
    }
  }
  kor::CloseSession();
  return 0;
}
