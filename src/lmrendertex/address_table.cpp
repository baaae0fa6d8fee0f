#include "address_table.hpp"

#include <Python.h>

#include <cassert>

namespace lmrt {

namespace {
constexpr std::size_t kSmallest = 8;
}

std::size_t AddressTable::home(const void* key) const noexcept {
  // Objects are 16-byte aligned: the low bits carry nothing. Multiplying
  // spreads the rest over the high bits, which pick the slot.
  auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key) >> 4);
  return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> shift_);
}

AddressTable::Entry* AddressTable::find(const void* key) const noexcept {
  if (count_ == 0) return nullptr;
  std::size_t mask = capacity_ - 1;
  for (std::size_t i = home(key); slots_[i].key != nullptr; i = (i + 1) & mask) {
    if (slots_[i].key == key) return &slots_[i];
  }
  return nullptr;
}

bool AddressTable::grow_to_fit(std::size_t entries) noexcept {
  std::size_t capacity = capacity_ ? capacity_ : kSmallest;
  int shift = capacity_ ? shift_ : 64 - 3;
  while (entries * 2 > capacity) {
    capacity *= 2;
    --shift;
  }
  // The raw domain needs no interpreter lock and outlives the interpreter's
  // own allocators: records may still die during finalisation.
  auto* slots = static_cast<Entry*>(PyMem_RawCalloc(capacity, sizeof(Entry)));
  if (slots == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  Entry* old = slots_;
  std::size_t old_capacity = capacity_;
  slots_ = slots;
  capacity_ = capacity;
  shift_ = shift;
  count_ = 0;
  for (std::size_t i = 0; i < old_capacity; ++i) {
    if (old[i].key != nullptr) insert(old[i].key, old[i].value);
  }
  PyMem_RawFree(old);
  return true;
}

bool AddressTable::grow_and_reserve() noexcept {
  if (!grow_to_fit(count_ + reserved_ + 1)) return false;
  ++reserved_;
  return true;
}

void AddressTable::release() noexcept {
  assert(reserved_ > 0);
  --reserved_;
  shrink_if_unused();
}

void AddressTable::insert(const void* key, std::uintptr_t value) noexcept {
  assert(fits(count_ + 1) && find(key) == nullptr);
  std::size_t mask = capacity_ - 1;
  std::size_t i = home(key);
  while (slots_[i].key != nullptr) i = (i + 1) & mask;
  slots_[i] = Entry{key, value};
  ++count_;
}

void AddressTable::erase(const void* key) noexcept {
  if (Entry* entry = find(key)) erase(entry);
}

void AddressTable::erase(Entry* entry) noexcept {
  // Backward-shift deletion: later entries of the probe run move up into
  // the hole unless their home lies after it, so no tombstones build up and
  // erasing never needs memory.
  std::size_t mask = capacity_ - 1;
  std::size_t hole = static_cast<std::size_t>(entry - slots_);
  for (std::size_t i = (hole + 1) & mask; slots_[i].key != nullptr; i = (i + 1) & mask) {
    std::size_t wanted = home(slots_[i].key);
    bool stays = hole <= i ? (hole < wanted && wanted <= i) : (hole < wanted || wanted <= i);
    if (!stays) {
      slots_[hole] = slots_[i];
      hole = i;
    }
  }
  slots_[hole] = Entry{nullptr, 0};
  --count_;
  shrink_if_unused();
}

bool AddressTable::add(const void* key, std::uintptr_t value) noexcept {
  if (!reserve()) return false;
  insert(key, value);
  release();
  return true;
}

void AddressTable::shrink_if_unused() noexcept {
  if (count_ != 0 || reserved_ != 0 || capacity_ <= kSmallest) return;
  PyMem_RawFree(slots_);
  slots_ = nullptr;
  capacity_ = 0;
  shift_ = 64;
}

}  // namespace lmrt
