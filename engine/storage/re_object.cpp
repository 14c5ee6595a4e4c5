#include "engine/storage/re_object.h"

#include "engine/base/fatal.h"

namespace kor {

TREManager::~TREManager() {
  FailIf(Active != 0);
  FailIf(Oldest != nullptr || Newest != nullptr);
  FailIf(Objects != 0);
}

void TREManager::Activate() {
  FailIf(Active >= kMaxActive);
  ++Active;
}

void TREManager::Deactivate() {
  FailIf(Active <= 0);
  if (--Active != 0) return;
  // Destroying one object may make another idle (a page drops its use on
  // its parent), which then joins the list and is destroyed in turn.
  while (Newest != nullptr) delete Newest;
}

int32_t TREManager::IdleCount() const {
  int32_t count = 0;
  for (const TREObject* object = Oldest; object != nullptr; object = object->NewerIdle()) ++count;
  return count;
}

TREObject::TREObject(TREManager& manager) : Owner(&manager) {
  FailIf(manager.Active <= 0);
  ++manager.Objects;
  EnterIdleList();
}

TREObject::~TREObject() {
  FailIf(Uses != 0);
  LeaveIdleList();
  --Owner->Objects;
}

void TREObject::DropUse() {
  FailIf(Uses <= 0);
  if (--Uses == 0) EnterIdleList();
}

void TREObject::EnterIdleList() {
  Older = Owner->Newest;
  Newer = nullptr;
  if (Older != nullptr) {
    Older->Newer = this;
  } else {
    Owner->Oldest = this;
  }
  Owner->Newest = this;
}

void TREObject::LeaveIdleList() {
  if (Older != nullptr) {
    Older->Newer = Newer;
  } else {
    FailIf(Owner->Oldest != this);
    Owner->Oldest = Newer;
  }
  if (Newer != nullptr) {
    Newer->Older = Older;
  } else {
    FailIf(Owner->Newest != this);
    Owner->Newest = Older;
  }
  Older = nullptr;
  Newer = nullptr;
}

}  // namespace kor
