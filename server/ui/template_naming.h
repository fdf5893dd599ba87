#pragma once
// How the save-template button turns the editor text into a template's name and text.
#include <QString>

#include "server/data/templates.h"

namespace tw::ui {

// The longest name taken from the text itself; a longer text gets "..." after it.
inline constexpr int kTemplateNameChars = 40;

struct TemplateDraft {
    QString name;
    QString text;  // lines separated by CR LF
    // An empty text is never saved.
    bool worthSaving() const { return !text.isEmpty(); }
};

// `editorText` has its lines separated by CR LF; `selected` is the list's current row
// (-1 for none). A text that opens with a double quote names itself: the name is what lies
// between the first two quotes, the text what follows up to a third quote or the end. Else
// the selected template is overwritten under its own name. Else the name is the text's
// first 40 characters, line breaks shown as blanks, with "..." when the text is longer.
TemplateDraft draftTemplate(const QString& editorText, const tw::server::TemplatesList& list,
                            int selected);

}  // namespace tw::ui
