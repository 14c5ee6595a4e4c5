#include "tools/kor/database.h"

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
    Transport = std::make_unique<TSessionTransport>(DirName);
  } else {
    Transport = std::make_unique<TSocketTransport>(Connect);
  }
  Client = std::make_unique<TKorClient>(*Transport);
  return *Client;
}

const TDatabaseFiles* TDatabase::Files() {
  if (DirName.empty()) return nullptr;
  if (!DirectoryFiles) DirectoryFiles = ReadDatabaseFiles();
  return &*DirectoryFiles;
}

}  // namespace kor::tool
