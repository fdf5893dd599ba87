// The owner of the server's settings: what it announces, and what readers on other threads see.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server/engine/server_settings.h"

using tw::server::ServerConfig;
using tw::server::ServerSettings;
using tw::server::TimeUnit;

TEST(ServerSettings, everySetterStoresAndAnnouncesOnlyRealChanges) {
    ServerConfig initial;
    initial.Timer = 7;
    ServerSettings settings(initial);
    int changed = 0;
    QObject::connect(&settings, &ServerSettings::changed, [&] { ++changed; });

    settings.setTimer(7);
    settings.setMeasure(initial.Measure);
    settings.setBroadcast(initial.Broadcast, initial.Broadcast_IP);
    settings.replace(initial);
    EXPECT_EQ(changed, 0) << "storing what is there already is no news";

    settings.setTimer(9);
    settings.setMeasure(TimeUnit::Hours);
    settings.setBroadcast(1, QStringLiteral("10.0.0.255"));
    settings.setScanFormats(2, 0);
    settings.setWarningMask(1);
    settings.setClientsFile(QStringLiteral(".\\clients2.xml"));
    EXPECT_EQ(changed, 6);

    const ServerConfig now = settings.snapshot();
    EXPECT_EQ(now.Timer, 9);
    EXPECT_EQ(now.Measure, TimeUnit::Hours);
    EXPECT_EQ(now.Broadcast, 1);
    EXPECT_EQ(now.Broadcast_IP, QStringLiteral("10.0.0.255"));
    EXPECT_EQ(now.SaveFormatName, 2);
    EXPECT_EQ(now.SaveFormatValue, 0);
    EXPECT_EQ(now.WarningMask, 1);
    EXPECT_EQ(now.Clients, QStringLiteral(".\\clients2.xml"));
    EXPECT_EQ(now.PortListen, initial.PortListen) << "the rest stays as it was";

    settings.replace(initial);
    EXPECT_EQ(changed, 7);
    EXPECT_EQ(settings.snapshot().Timer, 7);
}

// The mode and the address change together: a reader on another thread never sees the mode of
// one change with the address of another.
TEST(ServerSettings, snapshotsOnAnotherThreadAreNeverHalfChanged) {
    ServerSettings settings;
    const QString unicastAddress = QStringLiteral("0.0.0.0");
    const QString broadcastAddress = QStringLiteral("192.168.1.255");
    settings.setBroadcast(0, unicastAddress);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, seen{0};
    std::thread reader([&] {
        while (!done) {
            const ServerConfig c = settings.snapshot();
            const QString& expected = c.Broadcast == 1 ? broadcastAddress : unicastAddress;
            if (c.Broadcast_IP != expected) ++torn;
            ++seen;
        }
    });
    // Changes go on until the reader has looked often enough, however the threads are scheduled.
    for (int i = 0; seen < 5000 || i < 5000; ++i) {
        if (i % 2)
            settings.setBroadcast(0, unicastAddress);
        else
            settings.setBroadcast(1, broadcastAddress);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}
