#include "tools/kor/database.h"

#include "tools/kor/kor_error.h"
#include "tools/kor/session_transport.h"
#include "tools/kor/socket_transport.h"

namespace kor::tool {

TDatabase::TDatabase(std::string connect, std::string dirName)
    : Connect(std::move(connect)), DirName(std::move(dirName)) {}

TDatabase::~TDatabase() {
  if (Client) {
    try {
      Client->CloseSession();
    } catch (const std::exception&) {
      // Swallowed: the session is being left after a failure already
      // reported; dropping the transport ends it all the same.
    }
  }
  Client.reset();
  Transport.reset();
}

TKorClient& TDatabase::Open() {
  if (Client) return *Client;
  if (InProcess()) {
    RefuseMismatchedTableFiles();
    Transport = std::make_unique<TSessionTransport>(DirName);
  } else {
    Transport = std::make_unique<TSocketTransport>(Connect);
  }
  Client = std::make_unique<TKorClient>(*Transport);
  return *Client;
}

void TDatabase::RefuseMismatchedTableFiles() {
  const TDatabaseFiles* files = nullptr;
  try {
    files = Files();
  } catch (const TKorError&) {
    // Swallowed: the engine reads the same files next and reports what is
    // wrong with them in its own words.
    return;
  }
  const std::string mismatch = RecordTypeMismatch(*files);
  if (!mismatch.empty()) throw TKorError(mismatch);
}

const TDatabaseFiles* TDatabase::Files() {
  if (DirName.empty()) return nullptr;
  if (!DirectoryFiles) DirectoryFiles = ReadDatabaseFiles();
  return &*DirectoryFiles;
}

const TTableDeclaration* TDatabase::Declaration(const std::string& table) {
  const TDatabaseFiles* files = Files();
  if (files == nullptr) return nullptr;
  for (const TTableDeclaration& declaration : files->Tables) {
    if (SameNameIgnoringCase(declaration.Name, table)) return &declaration;
  }
  return nullptr;
}

}  // namespace kor::tool
