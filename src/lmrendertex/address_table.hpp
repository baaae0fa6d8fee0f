// A table keyed by object address, with one word per entry, that allocates
// only when asked to make room. Bookkeeping that must not fail (erasing, and
// inserting into room made beforehand) then cannot: running out of memory
// surfaces as MemoryError at the `reserve` that precedes a change, before
// anything observable happened. Erasing never allocates; it may free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lmrt {

class AddressTable {
 public:
  struct Entry {
    const void* key;
    std::uintptr_t value;
  };

  constexpr AddressTable() noexcept = default;
  AddressTable(const AddressTable&) = delete;
  AddressTable& operator=(const AddressTable&) = delete;

  // Room for one more entry, on top of the room every reservation still held
  // has: false with MemoryError set when the memory cannot be had. Each
  // reservation permits one insert and is given up with `release`, used or
  // not, so that code run between a reservation and its insert (which may
  // reserve and insert on its own) cannot take the room away.
  bool reserve() noexcept {
    if (!fits(count_ + reserved_ + 1)) return grow_and_reserve();
    ++reserved_;
    return true;
  }
  void release() noexcept;

  Entry* find(const void* key) const noexcept;
  // `key` must be absent, and a reservation held for it.
  void insert(const void* key, std::uintptr_t value) noexcept;
  // Erasing an absent key does nothing.
  void erase(const void* key) noexcept;
  // Erases an entry `find` returned, without finding it again.
  void erase(Entry* entry) noexcept;

  // reserve, insert, release; false with MemoryError set, changing nothing.
  bool add(const void* key, std::uintptr_t value) noexcept;

 private:
  std::size_t home(const void* key) const noexcept;
  bool fits(std::size_t entries) const noexcept { return entries * 2 <= capacity_; }
  bool grow_to_fit(std::size_t entries) noexcept;
  bool grow_and_reserve() noexcept;
  void shrink_if_unused() noexcept;

  // Open addressing with linear probing, at most half full; a null key marks
  // a free slot. The smallest storage, once had, is kept: a table that
  // empties and fills again (one target made and dropped after another)
  // allocates nothing. Larger storage goes when the table is empty and
  // nothing is reserved.
  Entry* slots_ = nullptr;
  std::size_t capacity_ = 0;  // zero or a power of two
  int shift_ = 64;            // 64 - log2(capacity_)
  std::size_t count_ = 0;
  std::size_t reserved_ = 0;
};

}  // namespace lmrt
