#include "common/addresses.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

using namespace tw;
using addr::RangeResult;

TEST(Addresses, patternsAcceptAddressesAndComputerNamesOnly) {
    struct Case {
        const char* text;
        bool ipv4, netbios;
    };
    const Case cases[] = {
        {"10.0.0.1", true, false},
        {"255.255.255.255", true, false},
        {"010.000.0.05", true, false},
        {"256.0.0.1", false, false},
        {"10.0.0", false, false},
        {"10.0.0.1.1", false, false},
        {"0010.0.0.1", false, false},
        {"10.0.0.1\n", false, false},
        {"localhost", false, true},
        {"test-pc", false, true},
        {"PC_01", false, true},
        {"1a", false, true},
        {"a", false, false},
        {"12345", false, false},
        {"abcdefghijklmno", false, true},
        {"abcdefghijklmnop", false, false},
        {"pc.office", false, false},
        {"", false, false},
        {"pc 1", false, false},
        {"\xd0\xbf\xd0\xba", false, false},
        {"pc1\n", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(addr::matchesIPv4Pattern(c.text), c.ipv4) << c.text;
        EXPECT_EQ(addr::matchesNetbiosPattern(c.text), c.netbios) << c.text;
    }
    EXPECT_TRUE(addr::isRangeItem("10.0.0.1-10.0.0.5"));
    EXPECT_FALSE(addr::isRangeItem("10.0.0.1-10.0.0.5-6"));
    EXPECT_FALSE(addr::isRangeItem("test-pc"));
    EXPECT_FALSE(addr::isRangeItem("10.0.0.1-10.0.5"));
}

TEST(Addresses, expandRangeFollowsTheOdometer) {
    struct Case {
        const char *start, *end;
        RangeResult result;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {"10.0.0.250",
         "10.0.1.3",
         RangeResult::Ok,
         {"10.0.0.250", "10.0.0.251", "10.0.0.252", "10.0.0.253", "10.0.0.254", "10.0.1.1",
          "10.0.1.2", "10.0.1.3"}},
        {"10.0.0.7", "10.0.0.7", RangeResult::Ok, {"10.0.0.7"}},
        {"10.0.0.3", "10.0.0.05", RangeResult::Ok, {"10.0.0.3", "10.0.0.4", "10.0.0.05"}},
        {"010.0.0.1", "10.0.0.2", RangeResult::Ok, {"10.0.0.1", "10.0.0.2"}},
        {"10.0.0.0", "10.0.0.2", RangeResult::Ok, {"10.0.0.0", "10.0.0.1", "10.0.0.2"}},
        {"10.0.254.254", "10.1.1.1", RangeResult::Ok, {"10.0.254.254", "10.1.1.1"}},
        // A 255 in the start empties its loop once; the octets further in keep their start
        // values until their own loops have run.
        {"10.0.0.255", "10.0.1.2", RangeResult::Ok, {"10.0.1.1", "10.0.1.2"}},
        {"10.0.255.5", "10.1.1.7", RangeResult::Ok, {"10.1.1.5", "10.1.1.6", "10.1.1.7"}},
        {"10.0.255.5", "10.1.2.1", RangeResult::Ok,
         [] {
             std::vector<std::string> v;
             for (int i = 5; i <= 254; ++i) v.push_back("10.1.1." + std::to_string(i));
             v.push_back("10.1.2.1");
             return v;
         }()},
        {"10.0.0.255", "10.0.0.255", RangeResult::Unreachable, {}},
        {"10.0.0.5", "10.0.0.1", RangeResult::Unreachable, {}},
        {"10.0.0.250", "10.0.1.0", RangeResult::Unreachable, {}},
        {"10.0.0.1", "10.0.0.255", RangeResult::Unreachable, {}},
        {"10.0.0.1", "10.0.255.254", RangeResult::Unreachable, {}},
        {"254.254.254.254", "1.1.1.1", RangeResult::Unreachable, {}},
        {"10.0.0.256", "10.0.0.1", RangeResult::BadStart, {}},
        {"pc", "10.0.0.1", RangeResult::BadStart, {}},
        {"10.0.0.1", "10.0.0.", RangeResult::BadEnd, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out{"kept"};
        EXPECT_EQ(addr::expandRange(c.start, c.end, out), c.result) << c.start << "-" << c.end;
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.out.begin(), c.out.end());
        EXPECT_EQ(out, expected) << c.start << "-" << c.end;
    }
}

TEST(Addresses, limitCountsTheEndAndIsCheckedBeforeProducingAnything) {
    std::vector<std::string> out;
    EXPECT_EQ(addr::expandRange("10.0.0.1", "10.0.0.10", out, 9), RangeResult::TooLarge);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(addr::expandRange("10.0.0.1", "10.0.0.10", out, 10), RangeResult::Ok);
    EXPECT_EQ(out.size(), 10u);

    // A class-B sized range: 255 rounds of the third octet (0..254) and one more up to .254.
    out.clear();
    EXPECT_EQ(addr::expandRange("127.0.0.1", "127.1.1.254", out, 65023), RangeResult::TooLarge);
    EXPECT_EQ(addr::expandRange("127.0.0.1", "127.1.1.254", out, 65024), RangeResult::Ok);
    ASSERT_EQ(out.size(), 65024u);
    EXPECT_EQ(out[254], "127.0.1.1");
    EXPECT_EQ(out[65022], "127.1.1.253");

    // About four billion addresses: answered from the counts alone.
    out.clear();
    EXPECT_EQ(addr::expandRange("1.0.0.0", "254.254.254.254", out, 1000), RangeResult::TooLarge);
    EXPECT_EQ(addr::expandRange("1.0.0.0", "254.254.254.255", out, 1000), RangeResult::Unreachable);
    EXPECT_TRUE(out.empty());
}

namespace {

struct Walked {
    std::size_t count = 0;
    std::vector<std::string> first;  // the first `cap` addresses
};

// A plain walk of the four nested loops, stopping once it has passed the end.
std::optional<Walked> walk(std::array<int, 4> s, const std::array<int, 4>& e, std::size_t cap) {
    Walked got;
    std::array<int, 4> x{};
    for (x[0] = s[0]; x[0] <= 254; ++x[0]) {
        for (x[1] = s[1]; x[1] <= 254; ++x[1]) {
            for (x[2] = s[2]; x[2] <= 254; ++x[2]) {
                for (x[3] = s[3]; x[3] <= 254; ++x[3]) {
                    if (x == e) return got;
                    if (x > e) return std::nullopt;
                    if (++got.count <= cap)
                        got.first.push_back(std::to_string(x[0]) + "." + std::to_string(x[1]) +
                                            "." + std::to_string(x[2]) + "." +
                                            std::to_string(x[3]));
                }
                s[3] = 1;
            }
            s[2] = 1;
        }
        s[1] = 1;
    }
    return std::nullopt;
}

std::string dotted(const std::array<int, 4>& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

}  // namespace

TEST(Addresses, expandRangeAgreesWithAPlainWalkAroundTheEdges) {
    // Ends keep their second octet below 255 so that the plain walk stays short.
    std::vector<std::array<int, 4>> starts, ends;
    for (int b : {0, 1, 255})
        for (int c : {0, 1, 254, 255})
            for (int d : {0, 1, 254, 255}) {
                starts.push_back({10, b, c, d});
                if (b != 255) ends.push_back({10, b, c, d});
            }
    const std::size_t limit = 3000;
    for (const auto& s : starts) {
        for (const auto& e : ends) {
            const auto expected = walk(s, e, limit);
            std::vector<std::string> out;
            const auto result = addr::expandRange(dotted(s), dotted(e), out, limit);
            if (!expected) {
                EXPECT_EQ(result, RangeResult::Unreachable) << dotted(s) << "-" << dotted(e);
            } else if (expected->count + 1 > limit) {
                EXPECT_EQ(result, RangeResult::TooLarge) << dotted(s) << "-" << dotted(e);
            } else {
                ASSERT_EQ(result, RangeResult::Ok) << dotted(s) << "-" << dotted(e);
                out.pop_back();
                EXPECT_EQ(out, expected->first) << dotted(s) << "-" << dotted(e);
            }
        }
    }
}

// The one list expander under the rules of both callers: the command line (empty items are
// wrong, the whole list judged first) and the clients database (empty items skipped, each
// item produced as it comes, ranges bounded).
TEST(Addresses, listExpanderAppliesEachCallersRules) {
    addr::ListRules cli;
    cli.maxListAddresses = 4;
    addr::ListRules db;
    db.skipEmptyItems = true;
    db.judgeWholeListFirst = false;
    db.maxRangeAddresses = 3;
    using S = addr::ListStatus;
    struct Case {
        const char* list;
        const addr::ListRules& rules;
        S status;
        const char* item;
        const char* part;
        std::vector<std::string> out;
    };
    const Case cases[] = {
        {"pc1,10.0.0.1-10.0.0.3", cli, S::Ok, "", "", {"pc1", "10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {"pc1,,pc2", cli, S::BadItem, "", "", {}},
        {"pc1,,pc2,", db, S::Ok, "", "", {"pc1", "pc2"}},
        {"", cli, S::BadItem, "", "", {}},
        {"", db, S::Ok, "", "", {}},
        // Judged first: nothing is produced before the mistake is found ...
        {"pc1,~bad", cli, S::BadItem, "~bad", "", {}},
        // ... or produced item by item up to it.
        {"pc1,~bad,pc2", db, S::BadItem, "~bad", "", {"pc1"}},
        {"pc1,10.0.0.1-10.0.0.4", cli, S::TooMany, "", "", {}},
        {"10.0.0.1-10.0.0.4", db, S::RangeTooLarge, "10.0.0.1-10.0.0.4", "", {}},
        {"10.0.0.1-10.0.0.3,10.0.0.1-10.0.0.3",
         db,
         S::Ok,
         "",
         "",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {"10.0.0.256-10.0.0.3", db, S::BadRangeStart, "10.0.0.256-10.0.0.3", "10.0.0.256", {}},
        {"10.0.0.1-10.0.0.x", cli, S::BadRangeEnd, "10.0.0.1-10.0.0.x", "10.0.0.x", {}},
        {"10.0.0.5-10.0.0.1", cli, S::Unreachable, "10.0.0.5-10.0.0.1", "", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out;
        const auto r = addr::expandAddressList(c.list, c.rules, out);
        EXPECT_EQ(r.status, c.status) << c.list;
        EXPECT_EQ(r.item, c.item) << c.list;
        EXPECT_EQ(r.part, c.part) << c.list;
        EXPECT_EQ(out, c.out) << c.list;
        // The sink sees the same addresses, item by item.
        std::vector<std::string> sunk;
        const auto s = addr::expandAddressList(
            c.list, c.rules, [&](std::string_view, std::span<const std::string> a) {
                sunk.insert(sunk.end(), a.begin(), a.end());
                return true;
            });
        EXPECT_EQ(s.status, c.status) << c.list;
        EXPECT_EQ(sunk, c.out) << c.list;
    }
}

TEST(Addresses, listExpanderStopsWhenTheSinkSaysSo) {
    addr::ListRules db;
    db.judgeWholeListFirst = false;
    std::vector<std::string> seen;
    const auto r = addr::expandAddressList(
        "pc1,pc2,pc3", db, [&](std::string_view item, std::span<const std::string>) {
            seen.emplace_back(item);
            return seen.size() < 2;
        });
    EXPECT_EQ(r.status, addr::ListStatus::Stopped);
    EXPECT_EQ(r.item, "pc2");
    EXPECT_EQ(seen, (std::vector<std::string>{"pc1", "pc2"}));
}
