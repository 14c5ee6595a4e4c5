#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/base/fatal.h"
#include "engine/base/object.h"
#include "engine/base/ref.h"

// The engine's small reference-counted containers. Common rules:
//   1. Positions and handles are 1-based; 0, negatives and numbers past the
//      end are contract violations of the caller and end in FailIf, never in
//      an exception (input from outside is checked before it gets here; see
//      engine/streams/container_reading.h).
//   2. A stored object's reference is taken over (Ref<...> by value); the
//      container releases it when the entry goes or the container dies, in
//      position order. Get hands the caller a new reference of its own.
//   3. Storage grows amortised (std::vector) instead of being resized to the
//      exact count on every change: same contents, far fewer copies. Only
//      TIntegerStack tracks a capacity of its own, starting at 4 and doubling.
//   4. No container takes a lock; each belongs to one thread at a time.

namespace kor {

// Equality of names ignoring the case of the letters A to Z only (names are
// byte strings; nothing else is folded).
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// A stack of integers.
class TIntegerStack final : public TRCObject {
 public:
  TIntegerStack();

  void Push(int32_t value);
  // REQUIRES: !IsEmpty().
  int32_t Pop();
  bool IsEmpty() const { return Size == 0; }
  int32_t Count() const { return Size; }
  // Slots allocated: 4 at first, doubled whenever a push finds them full.
  int32_t Capacity() const { return static_cast<int32_t>(Items.size()); }

 private:
  std::vector<int32_t> Items;  // Items.size() is the capacity
  int32_t Size = 0;
};

// A list of integers in insertion order (a matrix by name only: one
// dimension).
class TIntegerMatrix final : public TRCObject {
 public:
  void Add(int32_t value);
  // REQUIRES: 1 <= position <= Count().
  int32_t Get(int32_t position) const;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

 private:
  std::vector<int32_t> Items;
};

// A list of objects in insertion order, one owned reference each.
class TObjectMatrix final : public TRCObject {
 public:
  ~TObjectMatrix() override;

  // REQUIRES: object is not null.
  void Add(Ref<TRCObject> object);
  // REQUIRES: 1 <= position <= Count(). A new reference.
  Ref<TRCObject> Get(int32_t position) const;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

 private:
  std::vector<Ref<TRCObject>> Items;
};

// The names of a vector's entries and lookup by name. The values live in
// TValueVector below, index for index with Names; keeping the names in a
// base of their own lets name lookup (and ReadIndex) serve every kind of
// vector alike.
class TNameVector : public TRCObject {
 public:
  int32_t Count() const { return static_cast<int32_t>(Names.size()); }
  // REQUIRES: 1 <= position <= Count().
  const std::string& GetName(int32_t position) const;
  // The position of the first entry (from position 1) whose name equals
  // `name` ignoring the case of A to Z; -1 when there is none.
  int32_t IndexOf(std::string_view name) const;

 protected:
  TNameVector() = default;
  ~TNameVector() override = default;

  void CheckPosition(int32_t position) const;
  // Appends a name; returns its position.
  int32_t AddName(std::string_view name);
  // Moves the last name into `position` and drops the last slot.
  void DeleteName(int32_t position);

 private:
  std::vector<std::string> Names;
};

// Named values. Names are not checked for duplicates (IndexOf finds the
// first). Deletion moves the last entry into the gap, so it takes constant
// time and leaves every other position valid except the former last one.
template <typename TValue>
class TValueVector : public TNameVector {
 public:
  // REQUIRES: 1 <= position <= Count().
  void Delete(int32_t position) {
    DeleteName(position);  // checks the position
    if (position != static_cast<int32_t>(Values.size())) {
      Values[position - 1] = std::move(Values.back());
    }
    Values.pop_back();
  }

 protected:
  TValueVector() = default;
  // Entries go in position order (the order std::vector would not promise).
  ~TValueVector() override {
    for (TValue& value : Values) value = TValue();
  }

  void AddEntry(std::string_view name, TValue value) {
    AddName(name);
    Values.push_back(std::move(value));
  }
  const TValue& ValueAt(int32_t position) const {
    CheckPosition(position);
    return Values[position - 1];
  }

 private:
  std::vector<TValue> Values;
};

// Named integers.
class TIntegerVector final : public TValueVector<int32_t> {
 public:
  // Appends an entry (with a copy of the name) and returns the value.
  int32_t Add(std::string_view name, int32_t value) {
    AddEntry(name, value);
    return value;
  }
  // REQUIRES: 1 <= position <= Count().
  int32_t Get(int32_t position) const { return ValueAt(position); }
};

// Named objects, one owned reference each, released in position order when
// the vector dies. Registries of the engine derive from it.
class TObjectVector : public TValueVector<Ref<TRCObject>> {
 public:
  // Takes over the reference; returns the object, still owned by the vector.
  // REQUIRES: object is not null.
  TRCObject* Add(std::string_view name, Ref<TRCObject> object);
  // REQUIRES: 1 <= position <= Count(). A new reference.
  Ref<TRCObject> Get(int32_t position) const { return ValueAt(position); }
  // As Get, for a vector that the caller knows holds only T.
  template <typename T>
  Ref<T> GetAs(int32_t position) const {
    T* object = dynamic_cast<T*>(ValueAt(position).Get());
    FailIf(object == nullptr);
    return Ref<T>::Share(*object);
  }
  // Releases the object and deletes its entry (as Delete).
  void Remove(int32_t position) { Delete(position); }
};

// Named factories ("classes"): a descendant fills itself with the kinds it
// knows in its constructor and creates instances from the factory found by
// name. TFactory is any copyable callable or value (a function pointer, a
// std::function); nothing is counted.
template <typename TFactory>
class TClassVector : public TValueVector<TFactory> {
 public:
  // Appends an entry (with a copy of the name) and returns the factory.
  TFactory Add(std::string_view name, TFactory factory) {
    this->AddEntry(name, factory);
    return factory;
  }
  // REQUIRES: 1 <= position <= Count().
  const TFactory& Get(int32_t position) const { return this->ValueAt(position); }
};

// A handle table: gives out small positive numbers for objects that a
// protocol client refers to. Invariants:
//   1. A slot is free when it lies beyond SlotCount() or holds null.
//   2. Every free slot number up to SlotCount() is on FreeSlots exactly once.
//   3. LiveCount() == SlotCount() - free slots.
//   4. SlotCount() only grows: slots are never given back.
// Free slot numbers are a stack, so the most recently freed handle is given
// out first and a new slot is made only when none is waiting.
class TObjectHolder final : public TRCObject {
 public:
  TObjectHolder();
  // Removes every occupied slot in handle order.
  ~TObjectHolder() override;

  // Takes over the reference; returns the object's handle.
  // REQUIRES: object is not null.
  int32_t Add(Ref<TRCObject> object);
  // REQUIRES: handle >= 1.
  bool IsFree(int32_t handle) const;
  // REQUIRES: !IsFree(handle). A new reference.
  Ref<TRCObject> Get(int32_t handle) const;
  // As Get, for a holder that the caller knows holds only T.
  template <typename T>
  Ref<T> GetAs(int32_t handle) const {
    FailIf(IsFree(handle));
    T* object = dynamic_cast<T*>(Items[handle - 1].Get());
    FailIf(object == nullptr);
    return Ref<T>::Share(*object);
  }
  // The object itself, borrowed (no count changes): for the request paths,
  // where the holder keeps it alive throughout. REQUIRES: !IsFree(handle)
  // and a holder that holds only T.
  template <typename T>
  T& Borrow(int32_t handle) const {
    FailIf(IsFree(handle));
    return static_cast<T&>(*Items[handle - 1]);
  }
  // Releases the object and frees its handle. REQUIRES: !IsFree(handle).
  void Remove(int32_t handle);

  int32_t LiveCount() const { return Live; }
  int32_t SlotCount() const { return static_cast<int32_t>(Items.size()); }

 private:
  std::vector<Ref<TRCObject>> Items;
  int32_t Live = 0;
  Ref<TIntegerStack> FreeSlots;
};

}  // namespace kor
