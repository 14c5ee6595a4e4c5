#pragma once

#include <string>

#include "engine/protocol/engine_settings.h"

#include "tests/support/temp_dir.h"

namespace kor::test {

// Writes a small database into `dir`: a counter file and a structure file,
// and returns the settings that name them (absolute paths, so the current
// directory does not matter), with 4096-byte index pages.
inline TEngineSettings SmallDatabase(const TTempDir& dir, const std::string& structure = "END\n",
                                     const std::string& counters = "TIME $1\r\n") {
  TEngineSettings settings;
  settings.TimeAutoincId = "TIME";
  settings.IndexFileName = dir.File("INDEX.TMP");
  settings.IndexFileClusterShl = 12;
  settings.IndexFileMinBuffer = 16;
  settings.StructFileName = dir.File("STRUCT.ZSR");
  settings.InetPort = 7000;
  settings.AutoincFileName = dir.File("COUNTERS.ZSR");
  settings.InputTimeout = 0;
  WriteWholeFile(settings.StructFileName, structure);
  WriteWholeFile(settings.AutoincFileName, counters);
  return settings;
}

}  // namespace kor::test
