#include <gtest/gtest.h>

#include "layout_test_util.h"

namespace tw::ui {
namespace {

TEST(UiDocument, programDocument_definesTheFourWindows) {
    const auto doc = test::programDocument();
    ASSERT_TRUE(doc);
    for (const char* name : {"Window_Main", "Settings", "Changelog", "About"})
        EXPECT_NE(doc->window(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(doc->windows().size(), 4u);
    EXPECT_EQ(doc->window(u"Nothing"), nullptr);
}

struct BrokenCase {
    const char* what;
    const char* xml;
    const char* message;
    long line;
};

void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.what; }

class BrokenDocument : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenDocument, reportsMessageAndLine) {
    const BrokenCase& c = GetParam();
    const auto result = UiDocument::parse(QByteArrayView(c.xml));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error.message.toStdString(), c.message);
    EXPECT_EQ(result.error.line, c.line);
}

constexpr char kWin[] = "<window id=\"#Window_Main\" name=\"w\">";

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenDocument,
    ::testing::Values(
        // malformed XML: Expat's own words
        BrokenCase{"mismatched", "<dialogs>\n<window>\n</dialogs>", "mismatched tag", 3},
        BrokenCase{"empty", "", "no element found", 1},
        BrokenCase{"unclosed", "<dialogs>\n<window>\n", "no element found", 3},
        BrokenCase{"token", "<dialogs>\n\n<\n</dialogs>", "not well-formed (invalid token)", 3},
        // well-formed, but not windows
        BrokenCase{"root", "<windows/>", "the root element must be <dialogs>", 1},
        BrokenCase{"element", "<dialogs>\n<window id=\"#Window_Main\" name=\"w\">\n<gizmo/>",
                   "unknown element <gizmo>", 3},
        BrokenCase{"identifier", "<dialogs>\n<window id=\"#Window_Mian\" name=\"w\"/>",
                   "unknown identifier \"#Window_Mian\"", 2},
        BrokenCase{"attribute", "<dialogs>\n<window id=\"#Window_Main\" widht=\"5\"/>",
                   "unknown attribute \"widht\" of <window>", 2},
        BrokenCase{"number", "<dialogs>\n<window id=\"#Window_Main\" width=\"5px\"/>",
                   "bad value \"5px\" of attribute \"width\"", 2},
        BrokenCase{"negative", "<dialogs>\n<window id=\"#Window_Main\" margin=\"-1\"/>",
                   "bad value \"-1\" of attribute \"margin\"", 2},
        BrokenCase{"expand", "<dialogs>\n<window id=\"#Window_Main\">\n<vbox expand=\"item:0\"/>",
                   "bad value \"item:0\" of attribute \"expand\"", 3},
        BrokenCase{"expandPastEnd",
                   "<dialogs><window id=\"#Window_Main\" name=\"w\">\n<vbox expand=\"item:2\">"
                   "<button/></vbox></window></dialogs>",
                   "expand=\"item:2\" names a child that does not exist", 2},
        BrokenCase{"flag", "<dialogs>\n<window id=\"#Window_Main\" flags=\"resizable|huge\"/>",
                   "unknown flag \"huge\"", 2},
        BrokenCase{"gadgetHolds",
                   "<dialogs><window id=\"#Window_Main\" name=\"w\">\n<button>\n<text/>",
                   "<button> cannot hold <text>", 3},
        BrokenCase{"splitterOne",
                   "<dialogs><window id=\"#Window_Main\" name=\"w\">\n<splitter><tree/></splitter>"
                   "</window></dialogs>",
                   "<splitter> must hold exactly two elements", 2},
        BrokenCase{"windowEmpty", "<dialogs>\n<window id=\"#Window_Main\" name=\"w\"/></dialogs>",
                   "<window> must hold exactly one element", 2},
        BrokenCase{"noName", "<dialogs>\n<window id=\"#Window_Main\"><vbox/></window></dialogs>",
                   "<window> needs a name", 2},
        BrokenCase{"twice",
                   "<dialogs><window id=\"#Window_Main\" name=\"w\"><vbox>\n<button "
                   "id=\"#Button_Send\"/>\n"
                   "<button id=\"Button_Send\"/></vbox></window></dialogs>",
                   "identifier \"#Button_Send\" is used twice in one window", 3},
        BrokenCase{"sameName",
                   "<dialogs><window id=\"#Window_Main\" name=\"w\"><vbox/></window>\n"
                   "<window id=\"#Dialog_About\" name=\"w\"><vbox/></window></dialogs>",
                   "window \"w\" is defined twice", 2}),
    [](const auto& p) { return std::string(p.param.what); });

// A damaged document nested thousands deep is refused at the bound rather than built into a
// tree that the layout engine would walk by recursion.
TEST(UiDocument, nestingBeyondTheBoundIsRefusedWithItsLine) {
    std::string xml = "<dialogs>\n<window id=\"#Window_Main\" name=\"w\">\n";
    for (int i = 0; i < 100000; ++i) xml += "<vbox>\n";
    const auto result = UiDocument::parse(QByteArrayView(xml.data(), qsizetype(xml.size())));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error.message.toStdString(), "<vbox> is nested deeper than 64 levels");
    EXPECT_EQ(result.error.line, 66);  // the 64th box: with the window, 64 are open
}

TEST(UiDocument, debugLine_isTheStartUpMessage) {
    const auto result = UiDocument::parse(QByteArrayView("<dialogs>\n<window>\n</dialogs>"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error.debugLine(), QStringLiteral("XML error: mismatched tag (Line: 3)"));
}

TEST(UiDocument, attributesAreRead) {
    const auto doc = test::parseOrFail(
        "<dialogs><!-- a comment -->"
        "<window id=\"Dialog_About\" name=\"Über\" flags=\" systemmenu|centered \" minwidth=\"9\">"
        "<spin id=\"#Spin_Timer\" min=\"-5\" max=\"7\" text=\"Привет\" align=\"center\"/>"
        "</window></dialogs>");
    ASSERT_TRUE(doc);
    const UiNode* w = doc->window(u"Über");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->id, Id::Dialog_About);
    EXPECT_EQ(w->flags, unsigned(FlagSystemMenu | FlagCentered));
    EXPECT_EQ(w->minWidth, 9);
    const UiNode& spin = w->children.at(0);
    EXPECT_EQ(spin.kind, NodeKind::Spin);
    EXPECT_EQ(spin.min, -5);
    EXPECT_EQ(spin.max, 7);
    EXPECT_EQ(spin.text, QStringLiteral("Привет"));
    EXPECT_TRUE(spin.alignCenter);
}

}  // namespace
}  // namespace tw::ui
