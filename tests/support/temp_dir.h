#pragma once

#include <string>

namespace kor::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return Dir; }
  std::string File(const std::string& name) const { return Dir + "/" + name; }

 private:
  std::string Dir;
};

// Makes a directory the current one for its lifetime (the engine reads its
// configuration from the current directory).
class TCurrentDirScope {
 public:
  explicit TCurrentDirScope(const std::string& dir);
  ~TCurrentDirScope();
  TCurrentDirScope(const TCurrentDirScope&) = delete;
  TCurrentDirScope& operator=(const TCurrentDirScope&) = delete;

 private:
  std::string Previous;
};

// Whole-file helpers for tests.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace kor::test
