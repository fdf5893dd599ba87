#pragma once
// The client tree's logic over the clients list, kept apart from the widget so that the
// window, the workers and the tests share it: check marks pushed down a folder and
// recomputed up the tree, delivery states combined upwards into folders.
//
// Not thread-safe: every caller holds the clients lock. Fields of `mode` change through
// updateUpwards, checkSubtree and resetDeliveryStates (or rebuildIndex after a reload), so
// that the per-folder counts behind the upward update stay in step with the records.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "server/data/clients.h"

namespace tw::server {

enum class TreeMode { Check, Icons };

class ClientTree {
public:
    ClientTree() = default;

    ClientsList& records() { return list_; }
    const ClientsList& records() const { return list_; }
    // Call after the list was (re)loaded: rebuilds the parent-to-children index.
    void rebuildIndex();

    // Stores the mark or the state in the item and recomputes every ancestor from its direct
    // children (bitwise OR). Returns the indices whose shown state may have changed: the item
    // and its ancestors.
    std::vector<int> updateUpwards(int index, CheckMark mark);
    std::vector<int> updateUpwards(int index, DeliveryState state);

    // Passes `mark` to every item below a folder (Checked bit set: checked, else unchecked;
    // the items below store the mark they show, so a partly-checked folder makes them
    // Checked). Returns the indices whose mark was set.
    std::vector<int> checkSubtree(int index, CheckMark mark);

    // Every record: message GUID emptied, delivery state None.
    void resetDeliveryStates();

    // True when at least one item is fully checked (mark exactly Checked).
    bool anyChecked() const;

    // Direct children of a record, in list order (empty for a client or a bad index).
    std::span<const std::int32_t> children(int index) const;

private:
    // Per folder and per bit of a field: how many direct children have that bit set, so an
    // ancestor is recomputed without reading its children (the OR is "count > 0").
    using BitCounts = std::array<std::int32_t, 8>;
    struct ModeState {
        std::vector<std::uint8_t> counted;  // each record's value as counted in its parent
        std::vector<BitCounts> bits;        // by folder slot
    };

    void ensureIndex();
    std::vector<int> updateUpwards(int index, std::uint8_t value, TreeMode mode);
    ModeState& state(TreeMode mode) { return mode == TreeMode::Check ? marks_ : states_; }
    static std::uint8_t field(const ClientRecord& r, TreeMode mode);
    static void setField(ClientRecord& r, TreeMode mode, std::uint8_t value);
    void recount(TreeMode mode);
    void setCounted(ModeState& m, std::int32_t index, std::uint8_t value);
    static std::uint8_t orOf(const BitCounts& bits);

    ClientsList list_;
    std::vector<std::int32_t> childStart_, children_;  // parent -> direct children
    std::vector<std::int32_t> parent_;                 // sanitised parent index, -1 for none
    std::vector<std::int32_t> slot_;                   // record -> folder slot, -1 when no children
    ModeState marks_, states_;
};

}  // namespace tw::server
