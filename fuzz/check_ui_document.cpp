#include <QByteArrayView>

#include "fuzz/checks.h"
#include "server/ui/layout/ui_document.h"

namespace tw::fuzz {

namespace {

int depthOf(const ui::UiNode& node) {
    int deepest = 0;
    // The depth is bounded by the parser, so this recursion is too.
    for (const auto& c : node.children) deepest = std::max(deepest, depthOf(c));
    return deepest + 1;
}

}  // namespace

std::string checkUiDocument(Bytes input) {
    const auto result = ui::UiDocument::parse(QByteArrayView(
        reinterpret_cast<const char*>(input.data()), static_cast<qsizetype>(input.size())));
    if (!result.ok()) {
        if (result.error.message.isEmpty()) return "a failure without a message";
        (void)result.error.debugLine();
        return {};
    }
    for (const auto& w : result.document->windows()) {
        if (w.kind != ui::NodeKind::Window || w.name.isEmpty() || !w.id)
            return "a window without its name or id";
        if (result.document->window(w.name) != &w) return "a window not found by its name";
        if (depthOf(w) > 64) return "a document nested deeper than the bound";
    }
    return {};
}

}  // namespace tw::fuzz
