#include "server/ui/template_naming.h"

namespace tw::ui {

TemplateDraft draftTemplate(const QString& editorText, const tw::server::TemplatesList& list,
                            int selected) {
    TemplateDraft draft;
    const QString text = editorText.trimmed();
    if (text.startsWith(u'"')) {
        const qsizetype second = text.indexOf(u'"', 1);
        // Without a closing quote there is no text part, and nothing is saved.
        if (second < 0) return draft;
        draft.name = text.mid(1, second - 1).trimmed();
        const qsizetype third = text.indexOf(u'"', second + 1);
        draft.text =
            (third < 0 ? text.mid(second + 1) : text.mid(second + 1, third - second - 1)).trimmed();
        return draft;
    }
    draft.text = text;
    if (selected >= 0 && static_cast<std::size_t>(selected) < list.size()) {
        draft.name = list[static_cast<std::size_t>(selected)].name;
        return draft;
    }
    // Line breaks become blanks before the cut, so that no half of a CR LF pair ends up in
    // the name (the templates file cannot hold a name with a line break).
    QString flat = text;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    if (flat.size() <= kTemplateNameChars) {
        draft.name = flat;
    } else {
        qsizetype cut = kTemplateNameChars;
        if (flat.at(cut - 1).isHighSurrogate()) --cut;  // never split a character in two
        draft.name = flat.left(cut) + QStringLiteral("...");
    }
    return draft;
}

}  // namespace tw::ui
