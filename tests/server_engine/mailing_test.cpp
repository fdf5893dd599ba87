// The end of a mailing and the small rules around it, without sockets.
#include "server/engine/mailing.h"

#include <gtest/gtest.h>

#include "server/engine/scanner.h"

using namespace tw::server;
using tw::server::engine::finishMailing;
using tw::server::engine::unusableBroadcastAddress;
using tw::server::engine::waitingInterval;

namespace {

ClientRecord folder(const char* name, int parent, int level) {
    ClientRecord r;
    r.name = QString::fromUtf8(name);
    r.folder = 1;
    r.parentIndex = parent;
    r.level = level;
    return r;
}

ClientRecord client(const char* name, int parent, CheckMark mark, std::uint8_t state,
                    const char* time = "") {
    ClientRecord r;
    r.name = QString::fromUtf8(name);
    r.address = r.name;
    r.parentIndex = parent;
    r.level = 1;
    r.checkMark = mark;
    r.deliveryState = static_cast<DeliveryState>(state);
    r.reportTime = QString::fromUtf8(time);
    return r;
}

}  // namespace

TEST(EndOfMailing, summaryListsCheckedClientsInListOrderAndMarksSilentOnesNotDelivered) {
    InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
    ClientTree tree;
    tree.records() = {folder("MSG_Broadcast", -1, 0),
                      client("Silent", 0, CheckMark::Checked, 0),
                      client("Unchecked", 0, CheckMark::Unchecked, 0),
                      client("Got it", 0, CheckMark::Checked, 1, "10:11:12"),
                      client("Pressed OK", 0, CheckMark::Checked, 2, "10:11:13"),
                      client("Unreachable", 0, CheckMark::Checked, 4)};
    tree.rebuildIndex();

    const auto end = finishMailing(tree, texts);

    EXPECT_EQ(end.summary.toStdString(),
              "Silent\t= Not delivered\r\n"
              "Got it\t= Delivered in 10:11:12\r\n"
              "Pressed OK\t= Confirmed in 10:11:13\r\n"
              "Unreachable\t= Not delivered\r\n");
    EXPECT_EQ(bitsOf(tree.records()[1].deliveryState), 4);
    EXPECT_EQ(bitsOf(tree.records()[2].deliveryState), 0) << "an unchecked client is left alone";
    EXPECT_EQ(bitsOf(tree.records()[0].deliveryState), 1 | 2 | 4)
        << "the root combines its children";
    EXPECT_EQ(end.changed, (std::vector<int>{0, 1}));
}

TEST(EndOfMailing, russianSummaryUsesRussianWords) {
    InterfaceTexts texts;
    texts.setLanguage(QStringLiteral("RU"), 47128, nullptr);
    ClientTree tree;
    tree.records() = {folder("MSG_Broadcast", -1, 0),
                      client("A", 0, CheckMark::Checked, 2, "01:02:03")};
    tree.rebuildIndex();
    EXPECT_EQ(finishMailing(tree, texts).summary,
              QStringLiteral("A\t= Подтверждено в 01:02:03\r\n"));
}

TEST(WaitingInterval, unitsAndLimits) {
    EXPECT_EQ(waitingInterval(5, TimeUnit::Seconds), 5000);
    EXPECT_EQ(waitingInterval(5, TimeUnit::Minutes), 300000);
    EXPECT_EQ(waitingInterval(5, TimeUnit::Hours), 18000000);
    EXPECT_EQ(waitingInterval(0, TimeUnit::Seconds), 0);
    EXPECT_EQ(waitingInterval(-3, TimeUnit::Minutes), 0);
    EXPECT_EQ(waitingInterval(1000, TimeUnit::Hours), std::numeric_limits<int>::max())
        << "cut, not wrapped";
    EXPECT_FALSE(waitingInterval(5, static_cast<TimeUnit>(3)).has_value())
        << "another unit keeps the previous interval";
}

TEST(BroadcastAddressCheck, refusesNetworkAndLimitedBroadcastAddresses) {
    const struct {
        const char* address;
        bool unusable;
    } cases[] = {{"0.0.0.0", true},        {"192.168.1.0", true}, {"255.255.255.255", true},
                 {"192.168.1.255", false}, {"10.0.0.10", false},  {"127.255.255.255", false}};
    for (const auto& c : cases)
        EXPECT_EQ(unusableBroadcastAddress(QString::fromLatin1(c.address)), c.unusable)
            << c.address;
}
