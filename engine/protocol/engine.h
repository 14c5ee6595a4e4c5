#pragma once

#include <string>

#include "engine/base/object.h"
#include "engine/base/ref.h"

#include "engine/storage/autoinc.h"
#include "engine/tables/comp_func.h"
#include "engine/tables/field_type.h"

#include "engine/protocol/engine_settings.h"

namespace kor {

class TTextStreamReader;

// The root of everything a session works on, built once from the
// configuration file and the structure file it names, and never
// reconfigured while it runs.
class TEngine final : public TRCObject {
 public:
  // Takes over every reference it is given.
  TEngine(TEngineSettings settings, Ref<TAutoinc> timeCounter,
          Ref<TFieldTypeClassVector> fieldTypeClasses,
          Ref<TFieldCompFuncClassVector> compFuncClasses, Ref<TAutoincVector> counters);
  ~TEngine() override;

  // Builds the engine for an in-process session from the text reader over
  // "CONFIG.ZSR". Takes over the reader and releases it once the settings
  // are read, which closes the file. A failure raises the EZException met,
  // with its position in the file recorded (InputPosition) when it was met
  // in the text; nothing built so far stays alive.
  static Ref<TEngine> LoadFromConfiguration(Ref<TTextStreamReader> reader);

  // Builds the engine from settings already read: loads the counter file
  // (EFileOpenError when it is missing or in use by another engine), takes
  // the time counter out of the client-visible counters (EZServerError when
  // the file has no counter of that name) and creates the registries.
  static Ref<TEngine> Build(TEngineSettings settings);

  const TEngineSettings& Settings() const { return EngineSettings; }
  // The commit clock; not one of the client-visible counters.
  TAutoinc& TimeCounter() const { return *Time; }
  TAutoincVector& Counters() const { return *CounterVector; }
  TFieldCompFuncVector& CompFuncs() const { return *CompFuncVector; }
  const TFieldTypeClassVector& FieldTypeClasses() const { return *FieldTypes; }
  const TFieldCompFuncClassVector& CompFuncClasses() const { return *CompFuncTypes; }

 private:
  TEngineSettings EngineSettings;
  Ref<TAutoinc> Time;
  Ref<TFieldCompFuncVector> CompFuncVector;
  Ref<TFieldTypeClassVector> FieldTypes;
  Ref<TFieldCompFuncClassVector> CompFuncTypes;
  Ref<TAutoincVector> CounterVector;
};

}  // namespace kor
