#include "common/platform/event_log.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdlib>

#include "common/platform/diagnostics.h"
#include "tests/support/support.h"

namespace {

using Strings = std::array<std::string, 3>;

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TELLWICK_EVENTLOG", file().c_str(), 1);
        tw::diag::setProgram(tw::diag::kClientIdentity);
    }
    void TearDown() override {
        unsetenv("TELLWICK_EVENTLOG");
        tw::diag::setEventLogSwitch(0);
    }
    std::filesystem::path file() const { return dir / "events.jsonl"; }

    // Every line must be one JSON object; returns them in order.
    std::vector<QJsonObject> records() const {
        std::vector<QJsonObject> out;
        const std::string text = tw::test::readFile(file());
        EXPECT_TRUE(text.empty() || text.back() == '\n');
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find('\n', start);
            const QByteArray line = QByteArray::fromStdString(text.substr(start, end - start));
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            out.push_back(doc.object());
            start = end + 1;
        }
        return out;
    }
    tw::test::TempDir dir;
};

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

TEST(EventMessage, format_insertsStringsOnce_lineBreaks_dropsTrailingCrLf) {
    const Strings s{"Boss", "1234", "a %2 b"};
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"Sender: %1%rMessage ID: %2%rStatus: Received%rText:%r%3\r\n",
         "Sender: Boss\nMessage ID: 1234\nStatus: Received\nText:\na %2 b"},  // no second expansion
        {"Program was launched.\r\n", "Program was launched."},
        {"%3%2%1", "a %2 b1234Boss"},
        {"100% sure %4 %", "100% sure %4 %"},
        {"two\r\n\r\n", "two\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tw::platform::formatEventMessage(c.text, s), c.expected) << c.text;
}

TEST_F(EventLogTest, records_areValidJsonLines_withEscapedStrings) {
    tw::diag::setEventLogSwitch(1);
    const std::string text = "He said \"hi\"\\path\r\nline 2\ttab\x01 — Привет";
    tw::diag::writeEventLog(4, 101, "SRV-01", "377000123", text);
    tw::diag::writeEventLog(4, 100);

    const auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][u"source"].toString(), q("Tellwick Client"));
    EXPECT_EQ(r[0][u"type"].toInt(), 4);
    EXPECT_EQ(r[0][u"id"].toInt(), 101);
    EXPECT_EQ(r[0][u"category"].toInt(), 0);
    const QJsonArray strings = r[0][u"strings"].toArray();
    ASSERT_EQ(strings.size(), 3);
    EXPECT_EQ(strings[0].toString(), q("SRV-01"));
    EXPECT_EQ(strings[2].toString(), q(text.c_str()));
    EXPECT_EQ(
        r[0][u"message"].toString(),
        q(("Sender: SRV-01\nMessage ID: 377000123\nStatus: Received\nText:\n" + text).c_str()));
    EXPECT_EQ(r[1][u"message"].toString(), q("Program was launched."));
    EXPECT_EQ(r[1][u"strings"].toArray(), QJsonArray({q(""), q(""), q("")}));

    // The exact shape, for readers that do not parse JSON.
    const std::string raw = tw::test::readFile(file());
    EXPECT_EQ(raw.substr(raw.find('\n') + 1),
              "{\"source\":\"Tellwick Client\",\"type\":4,\"id\":100,\"category\":0,"
              "\"strings\":[\"\",\"\",\"\"],\"message\":\"Program was launched.\"}\n");
}

TEST_F(EventLogTest, serverRecord_usesServerSourceAndTable) {
    tw::diag::setProgram(tw::diag::kServerIdentity);
    tw::diag::setEventLogSwitch(1);
    tw::diag::writeEventLog(4, 101, "377000123", "Hello", "");
    const auto r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][u"source"].toString(), q("Tellwick Server"));
    EXPECT_EQ(r[0][u"message"].toString(),
              q("Message ID: 377000123\nStatus: Sent\nText:\nHello\n\n"));
}

TEST_F(EventLogTest, brokenUtf8_stillGivesValidJson) {
    tw::diag::setEventLogSwitch(1);
    tw::diag::writeEventLog(4, 102, "bad \xC3\x28 byte", "\xFF", "");
    const auto r = records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][u"strings"].toArray()[1].toString(), QString(QChar(0xFFFD)));
}

TEST_F(EventLogTest, switchZero_writesNothing_andUnwritableSinkIsSilent) {
    tw::diag::setEventLogSwitch(0);
    tw::diag::writeEventLog(4, 100);
    EXPECT_FALSE(std::filesystem::exists(file()));

    tw::diag::setEventLogSwitch(1);
    setenv("TELLWICK_EVENTLOG", (dir / "missing-folder/events.jsonl").c_str(), 1);
    ::testing::internal::CaptureStderr();
    tw::diag::writeEventLog(4, 100);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}
