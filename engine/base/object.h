#pragma once

#include <atomic>
#include <cstdint>

namespace kor {

// The base of every engine object. Constructing one enters it in the
// process-wide registry of live objects and destroying one removes it, so
// that the end of a session can prove that nothing leaked and a fatal report
// can list what is alive (DumpLiveObjects).
//
// The registry is a doubly linked list threaded through the objects
// themselves, newest first, guarded by one recursive lock that the fatal
// report takes as well.
class TZObject {
 public:
  TZObject();
  virtual ~TZObject();
  TZObject(const TZObject&) = delete;
  TZObject& operator=(const TZObject&) = delete;

  // The registry's newest object (null when none is alive), and the next
  // older one from an object.
  static const TZObject* NewestObject();
  const TZObject* Older() const { return OlderObject; }
  static int32_t LiveObjectCount();

 private:
  TZObject* NewerObject = nullptr;
  TZObject* OlderObject = nullptr;
};

// Ends the process through the fatal report unless no engine object is
// alive. The end of a session calls it.
void CheckNoLiveObjects();

// Logs "    LOST OBJECTS:" and one "        Class * count" line per class
// of live object, in the order of first appearance, newest first; and a
// warning line when the list and the counter disagree.
void DumpLiveObjects();

// The class name of an object without its namespace ("TStreamBuffer").
const char* ObjectClassName(const TZObject& object, char* buffer, int size);

// A reference-counted object. Rules for the whole engine:
//   1. The creator holds the first reference (RefCount 1 after construction).
//   2. Handing an object to a constructor or a container hands one reference
//      over; whoever keeps it releases it when it lets go. Ref<T> (ref.h)
//      carries this in the type.
//   3. Release of the last reference destroys the object; RefCount is -1
//      while the destructor runs and -3 after.
//   4. Any other use of a count at or below 0 is a broken invariant and ends
//      the process through the fatal report.
//   5. The count is atomic, so threads may add and release references to a
//      shared object at once (the server thread gives each new client a
//      reference to the engine while client threads work on it). AddRef is
//      relaxed; a Release is ordered after everything its thread did with
//      the object, and the last one sees all of it before the destructor.
//      Only the count is made safe: the object's own state still needs its
//      lock (for the engine, EngineLock).
class TRCObject : public TZObject {
 public:
  TRCObject() = default;
  ~TRCObject() override;

  int32_t RefCount() const { return Count.load(std::memory_order_relaxed); }
  void AddRef();
  void Release();
  // Release asserting that this is the only reference left (rule 2's owner
  // destroying what it alone holds).
  void ReleaseLast();

 private:
  std::atomic<int32_t> Count{1};
};

inline void ReleaseIfAssigned(TRCObject* object) {
  if (object != nullptr) object->Release();
}
inline void ReleaseLastIfAssigned(TRCObject* object) {
  if (object != nullptr) object->ReleaseLast();
}

}  // namespace kor
