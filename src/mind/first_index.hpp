// The position where each key first stood, for the first-wins lookups (titles, column names,
// hierarchy nodes) that every call builds afresh.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace mind {

// Insert-only open addressing in one array: a node-based map would allocate once per key, which
// cost a small call more than all of its scoring.
template <class Key, class Hash = std::hash<Key>>
class FirstIndex {
 public:
  explicit FirstIndex(std::size_t expected = 0) : slots_(capacity_for(expected)) {}

  // The position recorded for the key, and whether it was recorded just now (as `position`).
  std::pair<std::size_t, bool> try_add(const Key& key, std::size_t position) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    Slot& slot = slots_[probe(key)];
    if (slot.used) return {slot.position, false};
    slot = Slot{key, position, true};
    ++count_;
    return {position, true};
  }

  std::optional<std::size_t> find(const Key& key) const {
    const Slot& slot = slots_[probe(key)];
    return slot.used ? std::optional(slot.position) : std::nullopt;
  }

 private:
  struct Slot {
    Key key{};
    std::size_t position = 0;
    bool used = false;
  };

  // At most half full, so probes stay short and always end at a free slot.
  static std::size_t capacity_for(std::size_t keys) { return std::bit_ceil(std::max<std::size_t>(8, 2 * keys)); }

  // The key's slot, or the free slot where it would go.
  std::size_t probe(const Key& key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = Hash{}(key) & mask;
    while (slots_[i].used && !(slots_[i].key == key)) i = (i + 1) & mask;
    return i;
  }

  void grow() {
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(2 * slots_.size()));
    for (Slot& slot : old) {
      if (slot.used) slots_[probe(slot.key)] = std::move(slot);
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace mind
