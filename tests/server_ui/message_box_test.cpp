// Boxes of the main window, answered by the message-box hook: no environment variable keeps
// them quiet here, so a box the hook failed to answer would wait for a user.
#include "common/platform/message_box.h"

#include <QAction>
#include <cstdlib>

#include "ui_fixture.h"

namespace tw::ui::test {
namespace {

// Lifts TELLWICK_NONINTERACTIVE for one test and puts it back after.
class Interactive {
public:
    Interactive() : saved_(qgetenv("TELLWICK_NONINTERACTIVE")) {
        qunsetenv("TELLWICK_NONINTERACTIVE");
    }
    ~Interactive() { qputenv("TELLWICK_NONINTERACTIVE", saved_); }

private:
    QByteArray saved_;
};

TEST_F(MainWindowTest, colourLegendShowsTheLegendAsAnInformationBox) {
    makeWindow();
    auto* legend = window->findChild<QAction*>(QStringLiteral("Menu_Colour_Legend"));
    ASSERT_NE(legend, nullptr);
    const Interactive interactive;
    tw::platform::clearShownBoxes();
    tw::platform::setNextAnswer(tw::platform::BoxButton::Ok);
    legend->trigger();
    EXPECT_EQ(tw::platform::shownBoxCount(), 1);
    const auto box = tw::platform::lastShown();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, texts[tw::server::Text::ColourLegend]);
    EXPECT_EQ(box->text, texts[tw::server::Text::LegendText]);
    EXPECT_EQ(box->icon, tw::platform::BoxIcon::Information);
    EXPECT_EQ(box->buttons, QList<tw::platform::BoxButton>{tw::platform::BoxButton::Ok});
}

}  // namespace
}  // namespace tw::ui::test
