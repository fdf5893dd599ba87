// The box rules on small documents of their own, independent of the program's windows.
#include <gtest/gtest.h>

#include <QPushButton>

#include "layout_test_util.h"

namespace tw::ui {
namespace {

std::vector<int> xs(const test::OpenedWindow& w, std::initializer_list<Id> ids) {
    std::vector<int> out;
    for (Id id : ids) out.push_back(w.built.widget(id)->x());
    return out;
}
std::vector<int> widths(const test::OpenedWindow& w, std::initializer_list<Id> ids) {
    std::vector<int> out;
    for (Id id : ids) out.push_back(w.built.widget(id)->width());
    return out;
}

constexpr std::initializer_list<Id> kThree = {Id::Button_Send, Id::Button_Save, Id::Button_Donate};

std::string threeButtons(const char* boxAttributes) {
    return std::string(
               "<dialogs><window id=\"#Window_Main\" name=\"w\" flags=\"resizable\">"
               "<hbox ") +
           boxAttributes +
           "><button id=\"#Button_Send\" width=\"50\"/><button id=\"#Button_Save\" width=\"50\"/>"
           "<button id=\"#Button_Donate\" width=\"50\"/></hbox></window></dialogs>";
}

struct ExpandCase {
    const char* what;
    const char* attributes;
    std::vector<int> widths;
    std::vector<int> xs;
};

void PrintTo(const ExpandCase& c, std::ostream* os) { *os << c.what; }

class ExpandRule : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandRule, sharesTheExtraSpace) {
    const ExpandCase& c = GetParam();
    const std::string xml = threeButtons(c.attributes);
    const auto doc = test::parseOrFail(xml.c_str());
    ASSERT_TRUE(doc);
    test::OpenedWindow w(*doc, u"w");
    w.showAt(QSize(350, 100));
    EXPECT_EQ(widths(w, kThree), c.widths);
    EXPECT_EQ(xs(w, kThree), c.xs);
    // across the box every child fills it, inside the margins
    const int margin = xs(w, kThree).front();
    EXPECT_EQ(w.built.widget(Id::Button_Send)->height(), 100 - 2 * margin);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpandRule,
    ::testing::Values(
        ExpandCase{"all", "margin=\"0\" spacing=\"0\"", {117, 116, 117}, {0, 117, 233}},
        ExpandCase{
            "second", "margin=\"0\" spacing=\"0\" expand=\"item:2\"", {50, 250, 50}, {0, 50, 300}},
        ExpandCase{"none", "margin=\"0\" spacing=\"0\" expand=\"no\"", {50, 50, 50}, {0, 50, 100}},
        ExpandCase{"marginSpacing",
                   "expand=\"no\" margin=\"7\" spacing=\"3\"",
                   {50, 50, 50},
                   {7, 60, 113}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(BoxRules, alignCenter_centresAChildThatDoesNotFill) {
    const auto doc = test::parseOrFail(
        "<dialogs><window id=\"#Window_Main\" name=\"w\" flags=\"resizable\">"
        "<vbox margin=\"0\" expand=\"no\">"
        "<button id=\"#Button_Send\" width=\"50\" align=\"center\"/>"
        "<button id=\"#Button_Save\" width=\"50\"/>"
        "<singlebox align=\"center\" margin=\"0\"><button id=\"#Button_Donate\" "
        "width=\"60\"/></singlebox>"
        "</vbox></window></dialogs>");
    ASSERT_TRUE(doc);
    test::OpenedWindow w(*doc, u"w");
    w.showAt(QSize(300, 200));
    EXPECT_EQ(w.built.widget(Id::Button_Send)->geometry().left(), 125);
    EXPECT_EQ(w.built.widget(Id::Button_Send)->width(), 50);
    EXPECT_EQ(w.built.widget(Id::Button_Save)->width(), 300);  // no align: fills across
    EXPECT_EQ(w.built.widget(Id::Button_Donate)->mapTo(w.built.window(), QPoint()).x(), 120);
}

TEST(BoxRules, singlebox_stretchesItsChildUnlessExpandNo) {
    const auto doc = test::parseOrFail(
        "<dialogs><window id=\"#Window_Main\" name=\"w\" flags=\"resizable\"><hbox margin=\"0\">"
        "<singlebox margin=\"4\"><button id=\"#Button_Send\" width=\"30\" "
        "height=\"20\"/></singlebox>"
        "<singlebox margin=\"4\" expand=\"no\"><button id=\"#Button_Save\" width=\"30\" "
        "height=\"20\"/>"
        "</singlebox></hbox></window></dialogs>");
    ASSERT_TRUE(doc);
    test::OpenedWindow w(*doc, u"w");
    w.showAt(QSize(400, 200));
    QWidget* filled = w.built.widget(Id::Button_Send);
    QWidget* kept = w.built.widget(Id::Button_Save);
    EXPECT_EQ(filled->geometry(), QRect(4, 4, filled->parentWidget()->width() - 8, 192));
    EXPECT_EQ(kept->geometry(), QRect(4, 4, 30, 20));
}

TEST(BoxRules, windowMinimum_isTheLargerOfItsOwnAndWhatTheBoxesNeed) {
    for (const auto& [minWidth, expected] : {std::pair{"10", 100}, std::pair{"300", 300}}) {
        const std::string xml =
            std::string(
                "<dialogs><window id=\"#Window_Main\" name=\"w\" flags=\"resizable\" "
                "minwidth=\"") +
            minWidth +
            "\"><hbox margin=\"0\" spacing=\"0\" expand=\"no\"><button width=\"50\"/>"
            "<button width=\"50\"/></hbox></window></dialogs>";
        const auto doc = test::parseOrFail(xml.c_str());
        ASSERT_TRUE(doc);
        test::OpenedWindow w(*doc, u"w");
        EXPECT_EQ(w->minimumWidth(), expected) << minWidth;
        EXPECT_EQ(w->maximumWidth(), QWIDGETSIZE_MAX);
    }
}

TEST(BoxRules, unknownWindow_opensNothing) {
    const auto doc = test::programDocument();
    ASSERT_TRUE(doc);
    EXPECT_FALSE(openWindow(*doc, u"Nothing").isValid());
    QWidget host;
    EXPECT_FALSE(buildWindow(*doc, u"Nothing", &host).isValid());
    EXPECT_EQ(host.layout(), nullptr);
}

}  // namespace
}  // namespace tw::ui
