#pragma once
// The client tree's logic over the clients list, kept apart from the widget so that the
// window, the workers and the tests share it: check marks pushed down a folder and
// recomputed up the tree, delivery states combined upwards into folders.
#include <cstdint>
#include <vector>

#include "server/data/clients.h"

namespace tw::server {

enum class TreeMode { Check, Icons };

// Check-mark bits: 1 = something unchecked, 2 = something checked (3 = partly checked).
inline constexpr std::uint8_t kMarkUnchecked = 1;
inline constexpr std::uint8_t kMarkChecked = 2;
inline constexpr std::uint8_t kMarkPartly = 3;

class ClientTree {
public:
    ClientTree() = default;

    ClientsList& records() { return list_; }
    const ClientsList& records() const { return list_; }
    // Call after the list was (re)loaded: rebuilds the parent-to-children index.
    void rebuildIndex();

    // Stores `value` as the item's field of `mode` (Icons: the caller has stored the delivery
    // state already; the value is what the item shows) and recomputes every ancestor from
    // its direct children (bitwise OR). Returns the indices whose shown state may have
    // changed: the item and its ancestors.
    std::vector<int> updateUpwards(int index, std::uint8_t value, TreeMode mode);

    // Passes `mark` to every item below a folder (bit 2 set: checked, else unchecked).
    // Returns the indices whose mark was set.
    std::vector<int> checkSubtree(int index, std::uint8_t mark);

    // Every record: message GUID emptied, delivery state 0.
    void resetDeliveryStates();

    // True when at least one item is fully checked (mark exactly 2).
    bool anyChecked() const;

private:
    ClientsList list_;
    std::vector<std::int32_t> childStart_, children_;  // parent -> direct children
};

}  // namespace tw::server
