#include "engine/protocol/engine.h"

#include "engine/base/exceptions.h"

#include "engine/streams/text_stream_reader.h"

namespace kor {

TEngine::TEngine(TEngineSettings settings) : EngineSettings(std::move(settings)) {}

Ref<TEngine> TEngine::LoadFromConfiguration(Ref<TTextStreamReader> reader) {
  TEngineSettings settings;
  try {
    settings = ReadEngineSettings(*reader);
  } catch (EZException& e) {
    // Not swallowed: only the place in the file is added for the log.
    e.SetInputPosition(reader->Position());
    throw;
  }
  reader.Reset();
  return MakeRef<TEngine>(std::move(settings));
}

}  // namespace kor
