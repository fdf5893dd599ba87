#include "server/ui/layout/gadgets.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include "layout_test_util.h"

namespace tw::ui {
namespace {

TEST(Identifiers, valuesAndNamesAsInTheTable) {
    const std::pair<Id, int> samples[] = {
        {Id::Button_Send, 0},
        {Id::Button_Settings_OK, 5},
        {Id::Check_Settings_Broad, 7},
        {Id::Dialog_Main, 12},
        {Id::Frame_About, 20},
        {Id::Ico_Config, 24},
        {Id::Ico_Remove, 29},
        {Id::Tree_List, 61},
        {Id::Window_Main, 62},
        {Id::XML_Clients, 65},
        {Id::XML_UI, 66},
    };
    for (const auto& [id, value] : samples) EXPECT_EQ(static_cast<int>(id), value);

    const auto all = allIds();
    EXPECT_EQ(all.size(), 61u);
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_LT(static_cast<int>(all[i - 1].id), static_cast<int>(all[i].id));
    for (const IdEntry& e : all) {
        EXPECT_EQ(idFromName(e.name), e.id);
        EXPECT_EQ(idFromName("#" + std::string(e.name)), e.id);
        EXPECT_EQ(idName(e.id), e.name);
    }
}

TEST(Identifiers, unknownNamesAndUnusedValues) {
    for (const char* name : {"", "#", "button_send", "Button_Send ", "##Button_Send", "Menu"})
        EXPECT_EQ(idFromName(std::string_view(name)), std::nullopt) << name;
    EXPECT_EQ(idFromName(QStringView(u"#Tree_List")), Id::Tree_List);
    EXPECT_EQ(idFromName(QStringView(u"Trée_List")), std::nullopt);
    for (int unused : {6, 11, 19, 60, 63, 64, 67})
        EXPECT_TRUE(idName(static_cast<Id>(unused)).empty()) << unused;
}

TEST(Icons, loadAt32BitsWithTheirSizes) {
    const std::pair<Id, int> icons[] = {
        {Id::Ico_Config, 28}, {Id::Ico_Scanner, 32}, {Id::Ico_Cut, 16},
        {Id::Ico_Copy, 16},   {Id::Ico_Paste, 16},   {Id::Ico_Remove, 16},
    };
    for (const auto& [id, side] : icons) {
        const QPixmap pixmap = loadIcon(id);
        ASSERT_FALSE(pixmap.isNull()) << idName(id);
        EXPECT_EQ(pixmap.size(), QSize(side, side)) << idName(id);
        EXPECT_TRUE(pixmap.hasAlphaChannel()) << idName(id);
        const QImage image = pixmap.toImage();
        EXPECT_EQ(image.depth(), 32) << idName(id);
        // a picture, not a filled square: some pixels clear, some solid
        bool clear = false, solid = false;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int alpha = qAlpha(image.pixel(x, y));
                clear |= alpha == 0;
                solid |= alpha == 255;
            }
        EXPECT_TRUE(clear && solid) << idName(id);
    }
    EXPECT_TRUE(loadIcon(Id::Button_Scan).isNull());
}

TEST(Ipv4Field, readsFieldsAsNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"192.168.1.255", "192.168.1.255"},
        {"0.0.0.0", "0.0.0.0"},
        {"010.001.2.3", "10.1.2.3"},
        {"", "0.0.0.0"},
        {"10.20", "10.20.0.0"},
        {"10..3.4", "10.0.3.4"},
        {"a.b.c.d", "0.0.0.0"},
        {" 7 . 8 .9.10", "7.8.9.10"},
        {"12x.5.6.7", "12.5.6.7"},
        // a field above 255 is held at 255, not wrapped round to another address
        {"300.256.99999999999.1", "255.255.255.1"},
        {"1.2.3.4.5", "1.2.3.4"},
    };
    Ipv4Field field;
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(Ipv4Field::normalized(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
        field.setAddress(QString::fromLatin1(in));
        EXPECT_EQ(field.address(), QString::fromLatin1(out)) << in;
        EXPECT_EQ(field.text(), QString::fromLatin1(out)) << in;
    }
}

TEST(Ipv4Field, typingAcceptsOnlyAnAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.0.0.255", "10.0.0.255"},
        {"10.0.0.256", "10.0.0.25"},   // the 6 would make the field 256
        {"1a2.3.4.5.6", "12.3.4.56"},  // no letters, no fifth field
        {"1234", "123.0.0.0"},         // three digits a field
        {"192.168", "192.168.0.0"},    // unfinished: the rest reads 0
    };
    for (const auto& [typed, address] : cases) {
        Ipv4Field field;
        field.clear();
        QTest::keyClicks(&field, QString::fromLatin1(typed));
        EXPECT_EQ(field.address(), QString::fromLatin1(address)) << typed;
    }
}

TEST(HyperlinkLabel, clickEmitsClickedAndShowsPlainText) {
    HyperlinkLabel link(QStringLiteral("<b>forum</b>"));
    link.resize(200, 20);
    QSignalSpy spy(&link, &HyperlinkLabel::clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    QTest::mouseClick(&link, Qt::RightButton);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(link.textFormat(), Qt::PlainText);
}

}  // namespace
}  // namespace tw::ui
