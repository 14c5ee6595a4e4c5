#include "engine/server/server.h"

#include <chrono>

#include "engine/base/exceptions.h"
#include "engine/base/log.h"

#include "engine/streams/bin_stream.h"

#include "engine/protocol/engine_settings.h"

namespace kor {

namespace {

constexpr std::chrono::milliseconds kRefusalPause{1000};

}  // namespace

TZServer::TZServer(Ref<TEngine> engine, int32_t inputTimeout, int32_t port,
                   const std::string& bindAddress)
    : Timeout(inputTimeout),
      SocketServer(MakeRef<TSocketServer>(port, bindAddress)),
      Engine(std::move(engine)) {}

TZServer::~TZServer() {
  Stop();
  SocketServer.ReleaseLast();
  // Every connection is closed before any client is waited for, so that the
  // sessions end side by side rather than one after the other.
  for (Ref<TZClientThread>& client : Clients) {
    if (client) client->Terminate();
  }
  for (Ref<TZClientThread>& client : Clients) client.ReleaseLast();
  Engine.ReleaseLast();
}

Ref<TZServer> TZServer::LoadFromConfiguration(Ref<TTextStreamReader> reader,
                                              const std::string& bindAddress) {
  TEngineSettings settings;
  try {
    settings = ReadEngineSettings(*reader);
  } catch (EZException& e) {
    // Not swallowed: only the place in the file is added for the log.
    if (e.InputPosition().empty()) e.SetInputPosition(reader->Position());
    throw;
  }
  reader.Reset();
  int32_t port = settings.InetPort;
  int32_t timeout = settings.InputTimeout;
  return MakeRef<TZServer>(TEngine::Build(std::move(settings)), timeout, port, bindAddress);
}

void TZServer::Execute() {
  while (!Terminated()) {
    Ref<TSocket> connection;
    try {
      connection = SocketServer->Accept();
    } catch (const ESocketError&) {
      // The listening socket was closed: the server is being stopped.
      return;
    }
    connection->SetTimeout(Timeout);
    ReapEndedClients();
    Ref<TZClientThread>* free = nullptr;
    for (Ref<TZClientThread>& client : Clients) {
      if (!client) {
        free = &client;
        break;
      }
    }
    if (free != nullptr) {
      *free = MakeRef<TZClientThread>(Engine, std::move(connection));
    } else {
      Refuse(std::move(connection));
      PauseAfterRefusal();
    }
  }
}

void TZServer::Terminate() {
  SocketServer->Close();
  // Under the lock, so that the pause cannot miss the wake-up between its
  // test of Terminated and its wait.
  std::lock_guard guard(PauseLock);
  PauseEnd.notify_all();
}

void TZServer::ReapEndedClients() {
  for (Ref<TZClientThread>& client : Clients) {
    if (client && client->SessionEnded()) client.ReleaseLast();
  }
}

void TZServer::Refuse(Ref<TSocket> connection) {
  auto writer = MakeRef<TBinStreamWriter>(connection->GetOutputStream());
  try {
    writer->WriteIdent("ERR");
    writer->WriteString("Too many clients");
    writer->Flush();
  } catch (const EWriterError& e) {
    // Swallowed: the refused peer is already gone, and closing the
    // connection, which follows, is all that is left to do.
    LogLine("KORSERVER refusal not delivered: " + e.Describe());
  }
  writer.ReleaseLast();
  connection.ReleaseLast();
}

void TZServer::PauseAfterRefusal() {
  std::unique_lock guard(PauseLock);
  PauseEnd.wait_for(guard, kRefusalPause, [this] { return Terminated(); });
}

}  // namespace kor
