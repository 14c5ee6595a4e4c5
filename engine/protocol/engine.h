#pragma once

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/protocol/engine_settings.h"

namespace kor {

class TTextStreamReader;

// The root of everything a session works on, built once from the
// configuration file and the structure file it names, and never
// reconfigured while it runs.
class TEngine final : public TRCObject {
 public:
  explicit TEngine(TEngineSettings settings);

  // Builds the engine for an in-process session from the text reader over
  // "CONFIG.ZSR". Takes over the reader and releases it once the settings
  // are read, which closes the file. A failure raises the EZException met,
  // with its position in the file recorded (InputPosition); nothing built so
  // far stays alive.
  static Ref<TEngine> LoadFromConfiguration(Ref<TTextStreamReader> reader);

  const TEngineSettings& Settings() const { return EngineSettings; }

 private:
  TEngineSettings EngineSettings;
};

}  // namespace kor
