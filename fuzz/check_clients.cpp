#include <vector>

#include "fuzz/checks.h"
#include "server/data/client_tree.h"
#include "server/data/clients.h"
#include "server/data/clients_xml.h"

namespace tw::fuzz {

namespace {

// Smaller than the program's bounds, so that one input stays well inside the fuzzer's time
// limit; the bounds themselves are the same code.
server::ClientsLimits fuzzLimits() {
    server::ClientsLimits l;
    l.maxItems = 70000;
    l.maxRangeAddresses = 65536;
    return l;
}

class CountingTree : public server::TreeSink {
public:
    void ClearTree() override { items.clear(); }
    void AddTreeItem(const QString&, int level) override { items.push_back(level); }
    std::vector<int> items;
};

std::string checkLoaded(const server::LoadResult& r, const server::ClientsList& list,
                        const CountingTree& tree) {
    if (r.failed()) {
        if (r.message.isEmpty()) return "a failed load without a message";
        if (!list.empty() || !tree.items.empty()) return "a failed load left records";
        return {};
    }
    if (list.empty()) return {};
    if (list.size() != tree.items.size()) return "tree and list differ in length";
    if (list.size() > fuzzLimits().maxItems) return "more records than the bound";
    if (list[0].parentIndex != -1 || list[0].level != 0 || !list[0].folder)
        return "the first record is not the root";
    for (std::size_t i = 1; i < list.size(); ++i) {
        const auto& rec = list[i];
        if (rec.parentIndex < 0 || static_cast<std::size_t>(rec.parentIndex) >= i)
            return "a parent that does not come before its child";
        if (!list[static_cast<std::size_t>(rec.parentIndex)].folder) return "a client as parent";
        if (rec.level != list[static_cast<std::size_t>(rec.parentIndex)].level + 1)
            return "a level that is not its parent's plus one";
        if (tree.items[i] != rec.level) return "a tree item at another level";
        if (rec.level > server::ClientsLimits{}.maxDepth + 1) return "nested beyond the bound";
    }
    // The tree logic runs over any list the load accepts.
    server::ClientTree t;
    t.records() = list;
    t.rebuildIndex();
    (void)t.checkSubtree(0, server::CheckMark::Checked);
    if (list.size() > 1 && !t.anyChecked()) return "checking the root checked nothing";
    const int last = static_cast<int>(list.size()) - 1;
    (void)t.updateUpwards(last, server::DeliveryState::Confirmed);
    if (list.size() > 1 && t.records()[0].deliveryState == server::DeliveryState::None &&
        !list[last].folder)
        return "a client's state did not reach the root";
    t.resetDeliveryStates();
    return {};
}

}  // namespace

std::string checkClientsXml(Bytes input) {
    const std::string_view bytes(reinterpret_cast<const char*>(input.data()), input.size());
    server::InterfaceTexts texts;
    server::ClientsList list;
    CountingTree tree;
    const auto r = server::LoadClientsDocument(bytes, list, &tree, texts, fuzzLimits());
    return checkLoaded(r, list, tree);
}

std::string checkClientsIni(Bytes input) {
    const std::string_view bytes(reinterpret_cast<const char*>(input.data()), input.size());
    server::XmlElement root;
    if (!server::convertOldClientsText(bytes, root)) return {};
    const std::string document = server::formatClientsDocument(root);
    server::InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
    server::ClientsList list;
    CountingTree tree;
    const auto r = server::LoadClientsDocument(document, list, &tree, texts, fuzzLimits());
    // The conversion writes keys only, which are never validated: the load may refuse the
    // document for its depth or size, but never for its form.
    if (r.failed() && r.message.contains(QStringLiteral("not well-formed")))
        return "the converted document does not parse";
    if (r.failed() && !r.message.contains(QStringLiteral(" deeper than ")) &&
        !r.message.contains(QStringLiteral(" longer than ")) &&
        !r.message.contains(QStringLiteral(" larger than ")))
        return "the converted document is refused: " + r.message.toStdString();
    return checkLoaded(r, list, tree);
}

}  // namespace tw::fuzz
