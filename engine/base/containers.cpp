#include "engine/base/containers.h"

#include <cstdint>
#include <limits>

namespace kor {

namespace {

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr int32_t kInitialStackCapacity = 4;

// Counts and handles are int32 on the wire and in the API; a container that
// would outgrow them is a broken invariant of its owner, not an input error
// (input-driven sizes are bounded before they get here).
void CheckRoomForOneMore(size_t size) {
  FailIf(size >= static_cast<size_t>(std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

TIntegerStack::TIntegerStack() : Items(kInitialStackCapacity) {}

void TIntegerStack::Push(int32_t value) {
  if (Size == Capacity()) {
    FailIf(Capacity() > std::numeric_limits<int32_t>::max() / 2);
    Items.resize(Items.size() * 2);
  }
  Items[Size] = value;
  ++Size;
}

int32_t TIntegerStack::Pop() {
  FailIf(Size <= 0);
  --Size;
  return Items[Size];
}

void TIntegerMatrix::Add(int32_t value) {
  CheckRoomForOneMore(Items.size());
  Items.push_back(value);
}

int32_t TIntegerMatrix::Get(int32_t position) const {
  FailIf(position < 1 || position > Count());
  return Items[position - 1];
}

TObjectMatrix::~TObjectMatrix() {
  for (Ref<TRCObject>& object : Items) object.Reset();
}

void TObjectMatrix::Add(Ref<TRCObject> object) {
  FailIf(!object);
  CheckRoomForOneMore(Items.size());
  Items.push_back(std::move(object));
}

Ref<TRCObject> TObjectMatrix::Get(int32_t position) const {
  FailIf(position < 1 || position > Count());
  return Items[position - 1];
}

const std::string& TNameVector::GetName(int32_t position) const {
  CheckPosition(position);
  return Names[position - 1];
}

int32_t TNameVector::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < Names.size(); ++i) {
    if (SameNameIgnoringCase(Names[i], name)) return static_cast<int32_t>(i + 1);
  }
  return -1;
}

void TNameVector::CheckPosition(int32_t position) const {
  FailIf(position < 1 || position > Count());
}

int32_t TNameVector::AddName(std::string_view name) {
  CheckRoomForOneMore(Names.size());
  Names.emplace_back(name);
  return Count();
}

void TNameVector::DeleteName(int32_t position) {
  CheckPosition(position);
  if (position != Count()) Names[position - 1] = std::move(Names.back());
  Names.pop_back();
}

TRCObject* TObjectVector::Add(std::string_view name, Ref<TRCObject> object) {
  FailIf(!object);
  TRCObject* stored = object.Get();
  AddEntry(name, std::move(object));
  return stored;
}

TObjectHolder::TObjectHolder() : FreeSlots(MakeRef<TIntegerStack>()) {}

TObjectHolder::~TObjectHolder() {
  for (int32_t handle = 1; handle <= SlotCount(); ++handle) {
    if (!IsFree(handle)) Remove(handle);
  }
  FailIf(FreeSlots->Count() != SlotCount());
  FreeSlots.ReleaseLast();
}

int32_t TObjectHolder::Add(Ref<TRCObject> object) {
  FailIf(!object);
  if (FreeSlots->IsEmpty()) {
    CheckRoomForOneMore(Items.size());
    Items.emplace_back();
    FreeSlots->Push(SlotCount());
  }
  int32_t handle = FreeSlots->Pop();
  FailIf(!IsFree(handle));
  Items[handle - 1] = std::move(object);
  ++Live;
  return handle;
}

bool TObjectHolder::IsFree(int32_t handle) const {
  FailIf(handle < 1);
  return handle > SlotCount() || !Items[handle - 1];
}

Ref<TRCObject> TObjectHolder::Get(int32_t handle) const {
  FailIf(IsFree(handle));
  return Items[handle - 1];
}

void TObjectHolder::Remove(int32_t handle) {
  FailIf(IsFree(handle));
  // Free the slot before releasing: the object's destructor may reach back
  // into the holder and must find a consistent one.
  Ref<TRCObject> object = std::move(Items[handle - 1]);
  FreeSlots->Push(handle);
  --Live;
  object.Reset();
}

}  // namespace kor
