#include "common/addresses.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

#include "common/net.h"

namespace tw::addr {

namespace {

constexpr const char* kIPv4Pattern =
    R"((^(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$))";
constexpr const char* kNetbiosPattern = R"((?!^\d+$)^[\w-]{2,15}+$)";

class Pattern {
public:
    explicit Pattern(const char* source) {
        int err = 0;
        PCRE2_SIZE offset = 0;
        // DOLLAR_ENDONLY: "$" must not accept a trailing line feed, or "10.0.0.1\n" would pass
        // as an address and then fail silently when it is used.
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source), PCRE2_ZERO_TERMINATED,
                              PCRE2_DOLLAR_ENDONLY, &err, &offset, nullptr);
    }
    ~Pattern() { pcre2_code_free(code_); }
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    bool matches(std::string_view text) const {
        if (!code_) return false;
        // Match data per call: the compiled pattern is shared between threads, this is not.
        pcre2_match_data* md = pcre2_match_data_create_from_pattern(code_, nullptr);
        if (!md) return false;
        const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                                   0, md, nullptr);
        pcre2_match_data_free(md);
        return rc >= 0;
    }

private:
    pcre2_code* code_ = nullptr;
};

const Pattern& ipv4Pattern() {
    static const Pattern p(kIPv4Pattern);  // initialised once, thread-safe
    return p;
}

const Pattern& netbiosPattern() {
    static const Pattern p(kNetbiosPattern);
    return p;
}

using Octets = std::array<int, 4>;

bool octetsOf(std::string_view text, Octets& out) {
    std::uint8_t b[4];
    if (!net::parseIPv4(text, b)) return false;
    for (int i = 0; i < 4; ++i) out[i] = b[i];
    return true;
}

constexpr int kTop = 254;  // every octet of the walk runs up to here

// The walk is four nested loops, octet 0 outermost: octet k runs from its start value to 254,
// and its start value becomes 1 only once its own loop has run out. A start octet of 255 thus
// makes its loop empty on the first round while the start values below it stay as typed.
// The functions below follow those loops a whole sub-round at a time, so reachability and the
// size of a range are known without producing a single address.

std::uint64_t fullLoop(int level, Octets& s);

// Addresses produced by one pass of the body of loop `level`.
std::uint64_t fullBody(int level, Octets& s) { return level == 3 ? 1 : fullLoop(level + 1, s); }

// Addresses produced by one complete run of loop `level` from its current start value.
std::uint64_t fullLoop(int level, Octets& s) {
    std::uint64_t n = 0;
    const bool innerAtOne =
        std::all_of(s.begin() + level + 1, s.end(), [](int v) { return v == 1; });
    if (innerAtOne) {
        // Every body is the same: 254 values for each octet further in.
        std::uint64_t body = 1;
        for (int k = level + 1; k < 4; ++k) body *= kTop;
        n = s[level] <= kTop ? static_cast<std::uint64_t>(kTop - s[level] + 1) * body : 0;
    } else {
        for (int x = s[level]; x <= kTop; ++x) n += fullBody(level, s);
    }
    s[level] = 1;
    return n;
}

// The number of addresses the walk produces before it meets `e`, or nothing when it never
// does. The walk is strictly ascending, so once an octet has passed the end's it cannot come back.
std::optional<std::uint64_t> stepsToEnd(Octets s, const Octets& e) {
    std::uint64_t count = 0;
    for (int level = 0; level < 4; ++level) {
        // Here loop `level` starts while every outer octet equals the end's.
        if (e[level] > kTop || s[level] > e[level]) return std::nullopt;
        for (int x = s[level]; x < e[level]; ++x) count += fullBody(level, s);
    }
    return count;
}

void appendDotted(const Octets& o, std::vector<std::string>& out) {
    char buf[16];
    char* p = buf;
    for (int i = 0; i < 4; ++i) {
        if (i) *p++ = '.';
        p = std::to_chars(p, buf + sizeof buf, o[i]).ptr;
    }
    out.emplace_back(buf, p);
}

}  // namespace

bool matchesIPv4Pattern(std::string_view text) { return ipv4Pattern().matches(text); }

bool matchesNetbiosPattern(std::string_view text) { return netbiosPattern().matches(text); }

bool isRangeItem(std::string_view item) {
    return std::count(item.begin(), item.end(), '.') == 6 &&
           std::count(item.begin(), item.end(), '-') == 1;
}

RangeResult measureRange(std::string_view start, std::string_view end, std::uint64_t& count) {
    Octets s{}, e{};
    if (!matchesIPv4Pattern(start) || !octetsOf(start, s)) return RangeResult::BadStart;
    if (!matchesIPv4Pattern(end) || !octetsOf(end, e)) return RangeResult::BadEnd;
    const auto steps = stepsToEnd(s, e);
    if (!steps) return RangeResult::Unreachable;
    count = *steps + 1;
    return RangeResult::Ok;
}

RangeResult expandRange(std::string_view start, std::string_view end, std::vector<std::string>& out,
                        std::size_t limit) {
    Octets s{}, e{};
    if (!matchesIPv4Pattern(start) || !octetsOf(start, s)) return RangeResult::BadStart;
    if (!matchesIPv4Pattern(end) || !octetsOf(end, e)) return RangeResult::BadEnd;

    const auto steps = stepsToEnd(s, e);
    if (!steps) return RangeResult::Unreachable;
    if (*steps >= limit) return RangeResult::TooLarge;  // the end itself makes one more

    out.reserve(out.size() + static_cast<std::size_t>(*steps) + 1);
    // The same loops, now producing addresses; they are known to meet the end.
    const auto walk = [&] {
        Octets x{};
        for (x[0] = s[0]; x[0] <= kTop; ++x[0]) {
            for (x[1] = s[1]; x[1] <= kTop; ++x[1]) {
                for (x[2] = s[2]; x[2] <= kTop; ++x[2]) {
                    for (x[3] = s[3]; x[3] <= kTop; ++x[3]) {
                        if (x == e) return;
                        appendDotted(x, out);
                    }
                    s[3] = 1;
                }
                s[2] = 1;
            }
            s[1] = 1;
        }
    };
    walk();
    out.emplace_back(end);
    return RangeResult::Ok;
}

namespace {

struct Judged {
    ListStatus status = ListStatus::Ok;
    std::string_view part;
    std::uint64_t count = 0;
};

std::string_view rangeStart(std::string_view item) { return item.substr(0, item.find('-')); }
std::string_view rangeEnd(std::string_view item) { return item.substr(item.find('-') + 1); }

Judged judgeItem(std::string_view item, const ListRules& rules) {
    Judged j;
    if (!isRangeItem(item)) {
        j.count = 1;
        if (!matchesIPv4Pattern(item) && !matchesNetbiosPattern(item))
            j.status = ListStatus::BadItem;
        return j;
    }
    switch (measureRange(rangeStart(item), rangeEnd(item), j.count)) {
        case RangeResult::Ok:
            if (j.count > rules.maxRangeAddresses) j.status = ListStatus::RangeTooLarge;
            break;
        case RangeResult::BadStart:
            j.status = ListStatus::BadRangeStart;
            j.part = rangeStart(item);
            break;
        case RangeResult::BadEnd:
            j.status = ListStatus::BadRangeEnd;
            j.part = rangeEnd(item);
            break;
        case RangeResult::Unreachable:
        case RangeResult::TooLarge:
            j.status = ListStatus::Unreachable;
            break;
    }
    return j;
}

// Appends the addresses of an item already judged good.
void produceItem(std::string_view item, std::vector<std::string>& out) {
    if (isRangeItem(item))
        expandRange(rangeStart(item), rangeEnd(item), out);
    else
        out.emplace_back(item);
}

// Calls `visit` with every item of the list that the rules do not skip, until it says stop.
template <class Visit>
bool forEachItem(std::string_view list, const ListRules& rules, Visit&& visit) {
    for (std::size_t pos = 0;;) {
        const auto comma = list.find(',', pos);
        const std::string_view item =
            list.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
        if (!(item.empty() && rules.skipEmptyItems) && !visit(item)) return false;
        if (comma == std::string_view::npos) return true;
        pos = comma + 1;
    }
}

// The one walk of both expanders: judges, counts and hands every item to `produce` (which
// may refuse with Stopped) in the order the rules ask for.
template <class Produce>
ListOutcome expand(std::string_view list, const ListRules& rules, Produce&& produce,
                   const std::function<void(std::uint64_t)>& reserve) {
    ListOutcome outcome;
    std::uint64_t total = 0;
    const auto fault = [&](std::string_view item, const Judged& j) {
        outcome = {j.status, item, j.part};
        return false;
    };
    if (rules.judgeWholeListFirst) {
        const bool valid = forEachItem(list, rules, [&](std::string_view item) {
            const Judged j = judgeItem(item, rules);
            if (j.status != ListStatus::Ok) return fault(item, j);
            total += j.count;
            return true;
        });
        if (!valid) return outcome;
        if (total > rules.maxListAddresses) return {ListStatus::TooMany, {}, {}};
        if (reserve) reserve(total);
        forEachItem(list, rules, [&](std::string_view item) {
            if (produce(item)) return true;
            outcome = {ListStatus::Stopped, item, {}};
            return false;
        });
        return outcome;
    }
    forEachItem(list, rules, [&](std::string_view item) {
        const Judged j = judgeItem(item, rules);
        if (j.status != ListStatus::Ok) return fault(item, j);
        total += j.count;
        if (total > rules.maxListAddresses) {
            outcome = {ListStatus::TooMany, item, {}};
            return false;
        }
        if (produce(item)) return true;
        outcome = {ListStatus::Stopped, item, {}};
        return false;
    });
    return outcome;
}

}  // namespace

ListOutcome expandAddressList(std::string_view list, const ListRules& rules,
                              std::vector<std::string>& out) {
    return expand(
        list, rules,
        [&](std::string_view item) {
            produceItem(item, out);
            return true;
        },
        [&](std::uint64_t total) { out.reserve(out.size() + static_cast<std::size_t>(total)); });
}

ListOutcome expandAddressList(std::string_view list, const ListRules& rules, const ListSink& sink) {
    std::vector<std::string> addresses;  // one item's, reused
    return expand(list, rules,
                  [&](std::string_view item) {
                      addresses.clear();
                      produceItem(item, addresses);
                      return sink(item, addresses);
                  },
                  {});
}

}  // namespace tw::addr
