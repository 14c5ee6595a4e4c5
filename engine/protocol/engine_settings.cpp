#include "engine/protocol/engine_settings.h"

namespace kor {

namespace {

constexpr int32_t kMinClusterShl = 6;
constexpr int32_t kMaxClusterShl = 20;
constexpr int32_t kMinInetPort = 1024;
constexpr int32_t kMaxInetPort = 16383;

void Expect(TReader& reader, std::string_view keyword) { ReadKeyword(reader, {keyword}); }

}  // namespace

TEngineSettings ReadEngineSettings(TReader& reader) {
  TEngineSettings settings;
  Expect(reader, "TIMEAUTOINCID");
  settings.TimeAutoincId = reader.ReadIdent();
  Expect(reader, "INDEXFILENAME");
  settings.IndexFileName = reader.ReadString();
  Expect(reader, "INDEXFILECLUSTERSHL");
  settings.IndexFileClusterShl = ReadIntegerInRange(reader, kMinClusterShl, kMaxClusterShl);
  Expect(reader, "INDEXFILEMINBUFFER");
  settings.IndexFileMinBuffer = reader.ReadInteger();
  Expect(reader, "STRUCTFILENAME");
  settings.StructFileName = reader.ReadString();
  Expect(reader, "INETPORT");
  settings.InetPort = ReadIntegerInRange(reader, kMinInetPort, kMaxInetPort);
  Expect(reader, "AUTOINCFILENAME");
  settings.AutoincFileName = reader.ReadString();
  Expect(reader, "INPUTTIMEOUT");
  settings.InputTimeout = reader.ReadInteger();
  return settings;
}

}  // namespace kor
