#pragma once

#include <cstdint>

#include "engine/base/object.h"

namespace kor {

class TREObject;

// Use counting for objects that a manager owns and may destroy in bulk: an
// index (the manager) and its page objects. An object whose use count is 0
// waits on the manager's idle list; when the manager's last activation ends,
// every idle object is destroyed.
//
// Rules:
//   1. Objects are created only while the manager is active (ActiveCount()
//      between 1 and kMaxActive) and count in ObjectCount() until destroyed.
//   2. An object is on the idle list exactly when its use count is 0; the
//      list is in the order the objects became idle, newest at one end.
//   3. Deactivate to 0 destroys idle objects newest first until the list is
//      empty; an object whose destructor drops the last use of another puts
//      that one on the list, so it goes too.
//   4. A manager is destroyed inactive, with no idle and no live object.
class TREManager : public TRCObject {
 public:
  static constexpr int32_t kMaxActive = 5;

  TREManager() = default;
  ~TREManager() override;

  // REQUIRES: ActiveCount() < kMaxActive.
  void Activate();
  // REQUIRES: ActiveCount() > 0. Destroys the idle objects when the count
  // reaches 0 (rule 3).
  void Deactivate();

  int32_t ActiveCount() const { return Active; }
  int32_t ObjectCount() const { return Objects; }
  // Walks the idle list (tests and checks); O(idle objects).
  int32_t IdleCount() const;
  const TREObject* IdleOldest() const { return Oldest; }
  const TREObject* IdleNewest() const { return Newest; }

 private:
  friend class TREObject;

  int32_t Active = 0;
  int32_t Objects = 0;
  TREObject* Oldest = nullptr;
  TREObject* Newest = nullptr;
};

class TREObject : public TZObject {
 public:
  // Registers with `manager` and enters its idle list with no use.
  // REQUIRES: manager.ActiveCount() > 0.
  explicit TREObject(TREManager& manager);
  // REQUIRES: UseCount() == 0.
  ~TREObject() override;

  void AddUse() {
    if (Uses++ == 0) LeaveIdleList();
  }
  // REQUIRES: UseCount() > 0.
  void DropUse();

  int32_t UseCount() const { return Uses; }
  TREManager& Manager() const { return *Owner; }
  // Idle-list neighbours (null at the ends and when not idle).
  const TREObject* OlderIdle() const { return Older; }
  const TREObject* NewerIdle() const { return Newer; }

 private:
  void EnterIdleList();
  void LeaveIdleList();

  TREManager* Owner;
  TREObject* Older = nullptr;
  TREObject* Newer = nullptr;
  int32_t Uses = 0;
};

}  // namespace kor
