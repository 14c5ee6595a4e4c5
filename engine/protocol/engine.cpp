#include "engine/protocol/engine.h"

#include "engine/platform/last_error.h"

#include "engine/base/exceptions.h"

#include "engine/streams/text_stream_reader.h"

namespace kor {

TEngine::TEngine(TEngineSettings settings, Ref<TAutoinc> timeCounter,
                 Ref<TFieldTypeClassVector> fieldTypeClasses,
                 Ref<TFieldCompFuncClassVector> compFuncClasses, Ref<TAutoincVector> counters)
    : EngineSettings(std::move(settings)),
      Time(std::move(timeCounter)),
      CompFuncVector(MakeRef<TFieldCompFuncVector>()),
      FieldTypes(std::move(fieldTypeClasses)),
      CompFuncTypes(std::move(compFuncClasses)),
      CounterVector(std::move(counters)) {}

TEngine::~TEngine() {
  // The engine is the last holder of everything it was built from.
  CompFuncVector.ReleaseLast();
  Time.ReleaseLast();
  FieldTypes.ReleaseLast();
  CompFuncTypes.ReleaseLast();
  CounterVector.ReleaseLast();
}

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
  return Build(std::move(settings));
}

Ref<TEngine> TEngine::Build(TEngineSettings settings) {
  Ref<TAutoincVector> counters = LoadCounterFile(settings.AutoincFileName);
  int32_t timePosition = counters->IndexOf(settings.TimeAutoincId);
  if (timePosition < 0) {
    SetLastErrorCode(0);
    EZServerError error;
    error.SetInputPosition(settings.AutoincFileName + ", which has no counter " +
                           settings.TimeAutoincId);
    throw error;
  }
  Ref<TAutoinc> timeCounter = counters->Get(timePosition);
  counters->Remove(timePosition);
  return MakeRef<TEngine>(std::move(settings), std::move(timeCounter),
                          MakeRef<TFieldTypeClassVector>(), MakeRef<TFieldCompFuncClassVector>(),
                          std::move(counters));
}

}  // namespace kor
