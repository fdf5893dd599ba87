// What the operator learns of a mailing besides the tree: its counts, the follow-up lists,
// the history file and the records of reports that come after the summary.
#include <QJsonDocument>
#include <QJsonObject>

#include "server/data/history.h"
#include "tests/server_engine/engine_test_support.h"

using namespace tw::server;
using namespace tw::test;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (auto nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', from)) {
        out.push_back(text.substr(from, nl - from));
        from = nl + 1;
    }
    return out;
}

}  // namespace

TEST_F(EngineTest, mailingOutcome_countsHistoryFollowUpAndALateConfirmation) {
    loadClients(kOffice);
    check(2);
    check(3);
    check(4);
    cfg.Timer = 2;  // seconds
    FakeClient a(clientAt("127.0.0.2", cfg.PortSender, cfg.PortListen, true));
    FakeClient b(clientAt("127.0.0.3", cfg.PortSender, cfg.PortListen, false));
    FakeClient c(clientAt("127.0.0.4", cfg.PortSender, cfg.PortListen, false));
    startEngine();
    const auto history = dir / "mailings.jsonl";
    engine->setHistoryFile(history);
    EXPECT_FALSE(engine->mailingProgress().has_value()) << "no mailing yet";

    engine->sendRequest(QStringLiteral("Fire drill at 11"));
    ASSERT_TRUE(waitUntil([&] { return state(2) == 1; }));
    auto progress = engine->mailingProgress();
    ASSERT_TRUE(progress.has_value());
    EXPECT_FALSE(progress->ended);
    EXPECT_EQ(progress->counts, (MailingCounts{0, 1, 0, 2, 3}));
    EXPECT_GT(progress->waitEnds, QDateTime::currentDateTime().addSecs(-1));
    ASSERT_TRUE(b.waitForCount(1));
    b.answer(b.received()[0], tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return state(3) == 2; }));
    EXPECT_EQ(engine->followUp(ServerEngine::FollowUp::Unconfirmed), (std::vector<int>{2, 4}));
    EXPECT_EQ(engine->followUp(ServerEngine::FollowUp::Undelivered), (std::vector<int>{4}));

    // The waiting time ends: C is not delivered, and the mailing goes into the history.
    ASSERT_TRUE(waitUntil([&] { return !engine->mailingWaiting(); }));
    progress = engine->mailingProgress();
    EXPECT_TRUE(progress->ended);
    EXPECT_EQ(progress->counts, (MailingCounts{1, 1, 1, 0, 3}));
    auto written = lines(readFile(history));
    ASSERT_EQ(written.size(), 1u);
    const QJsonObject line =
        QJsonDocument::fromJson(QByteArray::fromStdString(written[0])).object();
    EXPECT_EQ(line.value(QStringLiteral("text")).toString(), QStringLiteral("Fire drill at 11"));
    EXPECT_EQ(line.value(QStringLiteral("transport")).toString(), QStringLiteral("UDP"));
    const QString rootId = line.value(QStringLiteral("rootId")).toString();
    EXPECT_EQ(rootId, record(2).messageId);

    // C confirms after the summary: the tree, a record of its own, the history and the counts.
    ASSERT_TRUE(c.waitForCount(1));
    c.answer(c.received()[0], tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return lines(readFile(history)).size() == 2; }));
    EXPECT_EQ(state(4), 2);
    const auto late = readMailing(history, rootId);
    ASSERT_TRUE(late.has_value());
    ASSERT_EQ(late->clients.size(), 3u);
    EXPECT_EQ(late->clients[0].state, DeliveryState::Delivered);
    EXPECT_EQ(late->clients[1].state, DeliveryState::Confirmed);
    EXPECT_EQ(late->clients[2].state, DeliveryState::Confirmed);
    EXPECT_EQ(late->clients[2].name, QStringLiteral("PC-C"));
    EXPECT_EQ(late->clients[2].reportTime, record(4).reportTime);
    const auto listed = readHistoryList(history);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].counts, (MailingCounts{2, 1, 0, 0, 3}));
    EXPECT_EQ(engine->mailingProgress()->counts, listed[0].counts);
    const std::string events = eventLogText();
    EXPECT_NE(events.find("\"id\":104,\"category\":0,\"strings\":[\"" + rootId.toStdString() +
                          "\",\"PC-C (127.0.0.4)\",\"Confirmed in " +
                          record(4).reportTime.toStdString() + "\"]"),
              std::string::npos)
        << events;
    EXPECT_EQ(engine->followUp(ServerEngine::FollowUp::Unconfirmed), (std::vector<int>{2}));
    EXPECT_EQ(engine->lastMailingText(), QStringLiteral("Fire drill at 11"));

    // A second report of the same state changes nothing more.
    c.answer(c.received()[0], tw::ReportKind::Confirmed);
    a.answer(a.received()[0], tw::ReportKind::Confirmed);
    ASSERT_TRUE(waitUntil([&] { return lines(readFile(history)).size() == 3; }));
    EXPECT_EQ(readHistoryList(history)[0].counts, (MailingCounts{3, 0, 0, 0, 3}));
}
