#include "server/data/history.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include "tests/support/support.h"

using namespace tw::server;
using tw::test::TempDir;

namespace {

MailingRecord sample(const QString& rootId, const QString& text) {
    MailingRecord m;
    m.rootId = rootId;
    m.time = QDateTime(QDate(2026, 12, 10), QTime(10, 41, 7));
    m.text = text;
    m.transport = QStringLiteral("TCP");
    m.clients = {{QStringLiteral("Anna"), QStringLiteral("10.0.0.5"), DeliveryState::Confirmed,
                  QStringLiteral("10:41:09")},
                 {QStringLiteral("=HYPERLINK(\"x\")"), QStringLiteral("PC-7"),
                  DeliveryState::NotDelivered, QString()},
                 {QStringLiteral("Boris, \"room 3\""), QStringLiteral("10.0.0.6"),
                  DeliveryState::Delivered, QStringLiteral("10:41:08")}};
    return m;
}

}  // namespace

// Texts with quotes, line breaks, control characters and the very key that ends a line's
// head must come back as they were, and a line cut short by a crash is passed over.
TEST(History, linesRoundTripHostileTextsAndSurviveACutLine) {
    TempDir dir;
    const auto file = dir / "mailings.jsonl";
    const QString hostile = QStringLiteral("a \"b\" \\ c\n,\"clients\":[ \t\x01 Привет");
    ASSERT_TRUE(appendHistory(file, mailingLine(sample(QStringLiteral("100"), hostile))));
    std::string bytes = tw::test::readFile(file);
    tw::test::writeFile(file, bytes + bytes.substr(0, 40));  // a second line cut at 40 bytes
    ASSERT_TRUE(
        appendHistory(file, mailingLine(sample(QStringLiteral("200"), QStringLiteral("x")))));
    MailingClient later{QStringLiteral("PC-7"), QStringLiteral("PC-7"), DeliveryState::Confirmed,
                        QStringLiteral("10:50:00")};
    ASSERT_TRUE(appendHistory(
        file, lateReportLine(QStringLiteral("100"), 1, later, MailingCounts{2, 1, 0, 0, 3})));
    tw::test::writeFile(file, tw::test::readFile(file) + "not json\n{\"update\":\"999\"}\n");

    const auto list = readHistoryList(file);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].rootId, QStringLiteral("100"));
    EXPECT_EQ(list[0].text, hostile);
    EXPECT_EQ(list[0].time, sample({}, {}).time);
    EXPECT_EQ(list[0].transport, QStringLiteral("TCP"));
    EXPECT_EQ(list[0].counts, (MailingCounts{2, 1, 0, 0, 3})) << "as the late report left them";
    EXPECT_EQ(list[1].counts, (MailingCounts{1, 1, 1, 0, 3}));

    const auto one = readMailing(file, QStringLiteral("100"));
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->text, hostile);
    ASSERT_EQ(one->clients.size(), 3u);
    EXPECT_EQ(one->clients[1].state, DeliveryState::Confirmed);
    EXPECT_EQ(one->clients[1].reportTime, QStringLiteral("10:50:00"));
    EXPECT_EQ(one->clients[2].name, QStringLiteral("Boris, \"room 3\""));
    EXPECT_FALSE(readMailing(file, QStringLiteral("300")).has_value());
    EXPECT_TRUE(readHistoryList(dir / "missing.jsonl").empty());
}

TEST(History, csvQuotesFieldsAndDisarmsFormulas) {
    InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
    EXPECT_EQ(mailingCsv(sample(QStringLiteral("1"), {}), texts).toStdString(),
              "Name,Address,State,Report time\r\n"
              "Anna,10.0.0.5,Confirmed,10:41:09\r\n"
              "\"'=HYPERLINK(\"\"x\"\")\",PC-7,Not delivered,\r\n"
              "\"Boris, \"\"room 3\"\"\",10.0.0.6,Delivered,10:41:08\r\n");
    texts.setLanguage(QStringLiteral("RU"), 47128, nullptr);
    EXPECT_EQ(mailingCsv(sample(QStringLiteral("1"), {}), texts).left(30).toStdString(),
              QStringLiteral("Имя,Адрес,Состояние,Время отчёта").toUtf8().left(30).toStdString());
}
