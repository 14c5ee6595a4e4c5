#pragma once

#include <memory>
#include <optional>
#include <string>

#include "tools/kor/database_files.h"
#include "tools/kor/kor_client.h"
#include "tools/kor/transport.h"

namespace kor::tool {

// The database a command works on: the engine in this process on the
// current directory (which main has made the database directory), or a
// korserver. The session is opened by Open and ended, in order, by the
// destructor.
class TDatabase {
 public:
  // `connect` is HOST:PORT, or empty for the engine in this process.
  // `dirName` names the directory in messages.
  TDatabase(std::string connect, std::string dirName);
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  bool InProcess() const { return Connect.empty(); }
  // Opens the session (the engine starts here when in this process). In
  // this process, a table file not written with its declared record type
  // is refused first (RecordTypeMismatch), so that opening cannot cost it
  // its records.
  TKorClient& Open();
  // The configuration and structure files of the directory, read-only; none
  // over a connection without a directory. Read once.
  const TDatabaseFiles* Files();
  // The structure file's declaration of `table` (case ignored), or none
  // (over a connection, or a table the file does not declare).
  const TTableDeclaration* Declaration(const std::string& table);

 private:
  void RefuseMismatchedTableFiles();

  std::string Connect;
  std::string DirName;
  std::unique_ptr<TTransport> Transport;
  std::unique_ptr<TKorClient> Client;
  std::optional<TDatabaseFiles> DirectoryFiles;
};

}  // namespace kor::tool
