// A plain ClientTree for the engine's tests and benchmark while the real one is not in the
// data layer yet; it follows the same contract (ancestors recomputed from direct children).
#include "server/data/client_tree.h"

namespace tw::server {

void ClientTree::rebuildIndex() {
    const auto n = list_.size();
    childStart_.assign(n + 1, 0);
    for (const auto& r : list_)
        if (r.parentIndex >= 0) ++childStart_[static_cast<std::size_t>(r.parentIndex) + 1];
    for (std::size_t i = 0; i < n; ++i) childStart_[i + 1] += childStart_[i];
    children_.assign(static_cast<std::size_t>(childStart_[n]), 0);
    std::vector<std::int32_t> fill(childStart_.begin(), childStart_.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const auto p = list_[i].parentIndex;
        if (p >= 0) children_[static_cast<std::size_t>(fill[static_cast<std::size_t>(p)]++)] =
            static_cast<std::int32_t>(i);
    }
}

std::vector<int> ClientTree::updateUpwards(int index, std::uint8_t value, TreeMode mode) {
    if (childStart_.size() != list_.size() + 1) rebuildIndex();
    std::vector<int> out{index};
    if (mode == TreeMode::Check) list_[static_cast<std::size_t>(index)].checkMark = value;
    for (int p = list_[static_cast<std::size_t>(index)].parentIndex; p >= 0;
         p = list_[static_cast<std::size_t>(p)].parentIndex) {
        std::uint8_t acc = 0;
        for (auto c = childStart_[static_cast<std::size_t>(p)];
             c < childStart_[static_cast<std::size_t>(p) + 1]; ++c) {
            const auto& child = list_[static_cast<std::size_t>(children_[static_cast<std::size_t>(c)])];
            acc |= mode == TreeMode::Check ? child.checkMark : child.deliveryState;
        }
        auto& parent = list_[static_cast<std::size_t>(p)];
        (mode == TreeMode::Check ? parent.checkMark : parent.deliveryState) = acc;
        out.push_back(p);
    }
    return out;
}

std::vector<int> ClientTree::checkSubtree(int index, std::uint8_t mark) {
    std::vector<int> out;
    const auto level = list_[static_cast<std::size_t>(index)].level;
    for (std::size_t i = static_cast<std::size_t>(index) + 1;
         i < list_.size() && list_[i].level > level; ++i) {
        list_[i].checkMark = mark;
        out.push_back(static_cast<int>(i));
    }
    return out;
}

void ClientTree::resetDeliveryStates() {
    for (auto& r : list_) {
        r.messageGuid.clear();
        r.deliveryState = 0;
    }
}

bool ClientTree::anyChecked() const {
    for (const auto& r : list_)
        if (r.checkMark == kMarkChecked) return true;
    return false;
}

}  // namespace tw::server
