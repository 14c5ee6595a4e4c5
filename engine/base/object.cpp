#include "engine/base/object.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/base/fatal.h"
#include "engine/base/log.h"
#include "engine/base/object_registry.h"

namespace kor {

namespace {

TZObject* Newest = nullptr;
int32_t LiveCount = 0;

// The RefCount value while the destructor runs, and after it.
constexpr int32_t kDestroying = -1;
constexpr int32_t kDestroyed = -3;

}  // namespace

std::recursive_mutex& ObjectRegistryLock() {
  // Never destroyed: objects may outlive static destruction at process exit.
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

TZObject::TZObject() {
  std::lock_guard guard(ObjectRegistryLock());
  ++LiveCount;
  OlderObject = Newest;
  if (Newest != nullptr) Newest->NewerObject = this;
  Newest = this;
}

TZObject::~TZObject() {
  std::lock_guard guard(ObjectRegistryLock());
  FailIf(NewerObject == nullptr && Newest != this);
  if (NewerObject != nullptr) {
    NewerObject->OlderObject = OlderObject;
  } else {
    Newest = OlderObject;
  }
  if (OlderObject != nullptr) OlderObject->NewerObject = NewerObject;
  --LiveCount;
}

const TZObject* TZObject::NewestObject() { return Newest; }

int32_t TZObject::LiveObjectCount() {
  // Under the lock: other threads may be creating or destroying objects.
  std::lock_guard guard(ObjectRegistryLock());
  return LiveCount;
}

void CheckNoLiveObjects() {
  std::lock_guard guard(ObjectRegistryLock());
  FailIf(LiveCount != 0);
  FailIf(Newest != nullptr);
}

const char* ObjectClassName(const TZObject& object, char* buffer, int size) {
  const char* mangled = typeid(object).name();
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  const char* name = status == 0 && plain != nullptr ? plain : mangled;
  // Only the class's own name: the namespace says nothing in a report.
  const char* start = name;
  for (const char* p = name; *p != '\0' && *p != '<'; ++p) {
    if (p[0] == ':' && p[1] == ':') start = p + 2;
  }
  snprintf(buffer, static_cast<size_t>(size), "%s", start);
  free(plain);
  return buffer;
}

void DumpLiveObjects() {
  std::lock_guard guard(ObjectRegistryLock());
  struct TTally {
    std::string Name;
    int32_t Count;
  };
  // Bounded like the report's table: a corrupt registry must not make the
  // dying process allocate without end.
  constexpr size_t kMaxClasses = 2048;
  std::vector<TTally> tallies;
  int32_t walked = 0;
  for (const TZObject* object = Newest; object != nullptr && walked <= LiveCount;
       object = object->Older()) {
    ++walked;
    char buffer[256];
    std::string name = ObjectClassName(*object, buffer, sizeof buffer);
    TTally* tally = nullptr;
    for (TTally& t : tallies) {
      if (t.Name == name) tally = &t;
    }
    if (tally == nullptr && tallies.size() < kMaxClasses)
      tally = &tallies.emplace_back(TTally{name, 0});
    if (tally != nullptr) ++tally->Count;
  }
  if (walked != LiveCount) {
    LogLine("TOTAL IN LIST (" + std::to_string(walked) + ") <> TOTAL OBJECT NUMBER (" +
            std::to_string(LiveCount) + ") !!!");
  }
  if (tallies.empty()) return;
  LogLine("    LOST OBJECTS:");
  for (const TTally& t : tallies) LogLine("        " + t.Name + " * " + std::to_string(t.Count));
}

TRCObject::~TRCObject() {
  // A constructor that throws after this base was built destroys the object
  // with the creator's count of 1 while the exception propagates.
  int32_t count = RefCount();
  bool constructionFailed = count == 1 && std::uncaught_exceptions() > 0;
  FailIf(count != kDestroying && !constructionFailed);
  Count.store(kDestroyed, std::memory_order_relaxed);
}

void TRCObject::AddRef() {
  // The check reads the count that this very increment replaced, so two
  // threads cannot both pass it on a stale value.
  int32_t before = Count.fetch_add(1, std::memory_order_relaxed);
  FailIf(before <= 0);
}

void TRCObject::Release() {
  int32_t before = Count.fetch_sub(1, std::memory_order_acq_rel);
  FailIf(before <= 0);
  if (before == 1) {
    Count.store(kDestroying, std::memory_order_relaxed);
    delete this;
  }
}

void TRCObject::ReleaseLast() {
  FailIf(RefCount() != 1);
  Release();
}

}  // namespace kor
