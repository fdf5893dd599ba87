#include "server/data/client_tree.h"

#include <algorithm>

namespace tw::server {

namespace {

std::size_t at(std::int32_t index) { return static_cast<std::size_t>(index); }

}  // namespace

std::uint8_t ClientTree::field(const ClientRecord& r, TreeMode mode) {
    return mode == TreeMode::Check ? bitsOf(r.checkMark) : bitsOf(r.deliveryState);
}

void ClientTree::setField(ClientRecord& r, TreeMode mode, std::uint8_t value) {
    if (mode == TreeMode::Check)
        r.checkMark = static_cast<CheckMark>(value);
    else
        r.deliveryState = static_cast<DeliveryState>(value);
}

std::uint8_t ClientTree::orOf(const BitCounts& bits) {
    std::uint8_t v = 0;
    for (std::size_t b = 0; b < bits.size(); ++b)
        if (bits[b] > 0) v = static_cast<std::uint8_t>(v | (1u << b));
    return v;
}

void ClientTree::rebuildIndex() {
    const std::size_t n = list_.size();
    // A parent must come before its children (tree order); anything else is treated as
    // top-level so that no walk up the tree can loop.
    parent_.assign(n, -1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t p = list_[i].parentIndex;
        if (p >= 0 && at(p) < i) parent_[i] = p;
    }

    childStart_.assign(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        if (parent_[i] >= 0) ++childStart_[at(parent_[i]) + 1];
    for (std::size_t i = 1; i <= n; ++i) childStart_[i] += childStart_[i - 1];
    children_.resize(at(childStart_[n]));
    std::vector<std::int32_t> fill(childStart_.begin(), childStart_.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
        if (parent_[i] >= 0) children_[at(fill[at(parent_[i])]++)] = static_cast<std::int32_t>(i);

    slot_.assign(n, -1);
    std::int32_t nextSlot = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (childStart_[i + 1] > childStart_[i]) slot_[i] = nextSlot++;

    recount(TreeMode::Check);
    recount(TreeMode::Icons);
}

void ClientTree::recount(TreeMode mode) {
    ModeState& m = state(mode);
    const std::size_t n = list_.size();
    m.counted.resize(n);
    const auto folders =
        std::count_if(slot_.begin(), slot_.end(), [](std::int32_t s) { return s >= 0; });
    m.bits.assign(static_cast<std::size_t>(folders), BitCounts{});
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t v = field(list_[i], mode);
        m.counted[i] = v;
        if (parent_[i] < 0) continue;
        BitCounts& bits = m.bits[at(slot_[at(parent_[i])])];
        for (std::size_t b = 0; b < bits.size(); ++b)
            if (v & (1u << b)) ++bits[b];
    }
}

void ClientTree::ensureIndex() {
    // A list reloaded without rebuildIndex must never be walked with the old index.
    if (childStart_.size() != list_.size() + 1) rebuildIndex();
}

void ClientTree::setCounted(ModeState& m, std::int32_t index, std::uint8_t value) {
    const std::uint8_t old = m.counted[at(index)];
    if (old == value) return;
    m.counted[at(index)] = value;
    const std::int32_t p = parent_[at(index)];
    if (p < 0) return;
    BitCounts& bits = m.bits[at(slot_[at(p)])];
    for (std::size_t b = 0; b < bits.size(); ++b) {
        if (old & (1u << b)) --bits[b];
        if (value & (1u << b)) ++bits[b];
    }
}

std::vector<int> ClientTree::updateUpwards(int index, CheckMark mark) {
    return updateUpwards(index, bitsOf(mark), TreeMode::Check);
}

std::vector<int> ClientTree::updateUpwards(int index, DeliveryState state) {
    return updateUpwards(index, bitsOf(state), TreeMode::Icons);
}

std::vector<int> ClientTree::updateUpwards(int index, std::uint8_t value, TreeMode mode) {
    ensureIndex();
    if (index < 0 || at(index) >= list_.size()) return {};
    ModeState& m = state(mode);
    setField(list_[at(index)], mode, value);
    setCounted(m, index, value);
    std::vector<int> changed{index};
    for (std::int32_t p = parent_[at(index)]; p >= 0; p = parent_[at(p)]) {
        const std::uint8_t v = orOf(m.bits[at(slot_[at(p)])]);
        setField(list_[at(p)], mode, v);
        setCounted(m, p, v);
        changed.push_back(p);
    }
    return changed;
}

std::vector<int> ClientTree::checkSubtree(int index, CheckMark mark) {
    ensureIndex();
    if (index < 0 || at(index) >= list_.size()) return {};
    // The items below show checked or unchecked only; they keep the mark they show, so that
    // "fully checked" (anyChecked) and what the operator sees agree.
    const CheckMark value =
        hasBits(mark, CheckMark::Checked) ? CheckMark::Checked : CheckMark::Unchecked;
    std::vector<int> changed;
    std::vector<std::int32_t> stack(children(index).rbegin(), children(index).rend());
    while (!stack.empty()) {
        const std::int32_t i = stack.back();
        stack.pop_back();
        list_[at(i)].checkMark = value;
        setCounted(marks_, i, bitsOf(value));
        changed.push_back(i);
        const auto kids = children(i);
        stack.insert(stack.end(), kids.rbegin(), kids.rend());
    }
    return changed;
}

void ClientTree::resetDeliveryStates() {
    for (ClientRecord& r : list_) {
        r.messageGuid.clear();
        r.deliveryState = DeliveryState::None;
    }
    ensureIndex();
    std::fill(states_.counted.begin(), states_.counted.end(), std::uint8_t{0});
    std::fill(states_.bits.begin(), states_.bits.end(), BitCounts{});
}

bool ClientTree::anyChecked() const {
    return std::any_of(list_.begin(), list_.end(),
                       [](const ClientRecord& r) { return r.checkMark == CheckMark::Checked; });
}

std::span<const std::int32_t> ClientTree::children(int index) const {
    if (index < 0 || at(index) + 1 >= childStart_.size()) return {};
    const auto b = at(childStart_[at(index)]);
    const auto e = at(childStart_[at(index) + 1]);
    return std::span<const std::int32_t>(children_).subspan(b, e - b);
}

}  // namespace tw::server
