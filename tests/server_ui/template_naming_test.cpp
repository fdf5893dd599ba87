#include "server/ui/template_naming.h"

#include <gtest/gtest.h>

namespace tw::ui {
namespace {

using tw::server::TemplatesList;

const TemplatesList kTwo = {{QStringLiteral("Lunch"), QStringLiteral("Lunch at 12")},
                            {QStringLiteral("Fire drill"), QStringLiteral("Drill at 3")}};

struct NamingCase {
    const char* what;
    QString editor;
    int selected;
    QString name, text;  // text empty: nothing is saved
};

TEST(TemplateNaming, NameAndTextFromEditor) {
    const QString forty = QString(40, u'a');
    const NamingCase cases[] = {
        {"header in quotes", QStringLiteral("  \"Meeting\"  Room 4 at 10 "), 1,
         QStringLiteral("Meeting"), QStringLiteral("Room 4 at 10")},
        {"text ends at a third quote", QStringLiteral("\" Head \" body \" tail"), -1,
         QStringLiteral("Head"), QStringLiteral("body")},
        {"header wins over the selected template", QStringLiteral("\"New\"x"), 0,
         QStringLiteral("New"), QStringLiteral("x")},
        {"quote without a second one saves nothing", QStringLiteral("\"Meeting at 10"), -1, {}, {}},
        {"selected template is overwritten", QStringLiteral("Lunch moved to 13"), 1,
         QStringLiteral("Fire drill"), QStringLiteral("Lunch moved to 13")},
        {"40 characters are the name", forty, -1, forty, forty},
        {"41 characters: 40 and an ellipsis", forty + u'b', -1, forty + QStringLiteral("..."),
         forty + u'b'},
        {"line breaks become blanks in the name", QStringLiteral("Line one\r\nline two"), -1,
         QStringLiteral("Line one line two"), QStringLiteral("Line one\r\nline two")},
        {"empty text saves nothing", QStringLiteral("  \r\n "), 0, {}, {}},
        {"selection beyond the list is no selection", QStringLiteral("short"), 7,
         QStringLiteral("short"), QStringLiteral("short")},
    };
    for (const NamingCase& c : cases) {
        SCOPED_TRACE(c.what);
        const TemplateDraft d = draftTemplate(c.editor, kTwo, c.selected);
        EXPECT_EQ(d.worthSaving(), !c.text.isEmpty());
        if (!c.text.isEmpty()) {
            EXPECT_EQ(d.name.toStdString(), c.name.toStdString());
        }
        EXPECT_EQ(d.text.toStdString(), c.text.toStdString());
    }
}

TEST(TemplateNaming, CutNeverSplitsACharacter) {
    // 39 letters, then a character outside the basic plane (two UTF-16 units) at the cut.
    const QString text = QString(39, u'x') + QString::fromUtf8("\xF0\x9F\x93\xA2") + u'y';
    const TemplateDraft d = draftTemplate(text, {}, -1);
    EXPECT_EQ(d.name, QString(39, u'x') + QStringLiteral("..."));
}

}  // namespace
}  // namespace tw::ui
