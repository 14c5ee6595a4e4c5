#pragma once

// A configuration file "CONFIG.ZSR" written from settings, and the engine
// built from it through the same stream chain as KorInit (file stream,
// 1024-byte buffer, text token reader).

#include <string>

#include "engine/base/ref.h"

#include "engine/streams/buffered_stream.h"
#include "engine/streams/text_stream_reader.h"

#include "engine/storage/file.h"

#include "engine/protocol/engine.h"
#include "engine/protocol/engine_settings.h"

#include "tests/support/temp_dir.h"

namespace kor::test {

// `text` as a configuration string: quoted, inner quotes doubled.
inline std::string QuotedConfigString(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

// The eight settings in their order, one a line.
inline void WriteConfigFile(const std::string& path, const TEngineSettings& settings) {
  WriteWholeFile(path, "TIMEAUTOINCID " + settings.TimeAutoincId + "\n" + "INDEXFILENAME " +
                           QuotedConfigString(settings.IndexFileName) + "\n" +
                           "INDEXFILECLUSTERSHL " + std::to_string(settings.IndexFileClusterShl) +
                           "\n" + "INDEXFILEMINBUFFER " +
                           std::to_string(settings.IndexFileMinBuffer) + "\n" + "STRUCTFILENAME " +
                           QuotedConfigString(settings.StructFileName) + "\n" + "INETPORT " +
                           std::to_string(settings.InetPort) + "\n" + "AUTOINCFILENAME " +
                           QuotedConfigString(settings.AutoincFileName) + "\n" + "INPUTTIMEOUT " +
                           std::to_string(settings.InputTimeout) + "\n");
}

inline Ref<TEngine> LoadEngineFromConfigFile(const std::string& path) {
  constexpr int32_t kConfigBufferSize = 1024;
  auto file = MakeRef<TFile>(path, TCreationDisposition::OpenExisting);
  auto stream =
      MakeRef<TBufferedInputStream>(MakeRef<TFileInputStream>(std::move(file)), kConfigBufferSize);
  return TEngine::LoadFromConfiguration(MakeRef<TTextStreamReader>(std::move(stream), path));
}

}  // namespace kor::test
