#pragma once
// Address lists shared by the command-line sender and the clients database: the two
// validity patterns (PCRE2, compiled once), the expansion of an address range and the one
// expander of a comma-separated list, with the rules where the two differ.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tw::addr {

// "(^(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$)"
bool matchesIPv4Pattern(std::string_view text);
// "(?!^\d+$)^[\w-]{2,15}+$": 2 to 15 word characters or hyphens, not all digits.
bool matchesNetbiosPattern(std::string_view text);

// A list item is a range when it holds exactly six "." and exactly one "-".
bool isRangeItem(std::string_view item);

enum class RangeResult { Ok, BadStart, BadEnd, Unreachable, TooLarge };

// Expands "start-end" by the odometer rule: the last octet runs up to 254, then the octet to
// its left steps up and the lower ones restart at 1 (octets 0 and 255 appear only where the
// start has them, in its first round). The walk stops when it meets the end; the end is then
// appended as written. An end that the walk never meets is Unreachable, found without walking
// the address space. More than `limit` addresses (the end included) is TooLarge. Nothing is
// appended unless the result is Ok.
RangeResult expandRange(std::string_view start, std::string_view end, std::vector<std::string>& out,
                        std::size_t limit = static_cast<std::size_t>(-1));

// What expandRange would say, without producing anything: Ok with `count` = the number of
// addresses it appends (the end included), or the reason it refuses (never TooLarge).
RangeResult measureRange(std::string_view start, std::string_view end, std::uint64_t& count);

// Where the lists of the command line and of the clients database differ.
struct ListRules {
    // An empty item (",,", a comma at either end, an empty list) is skipped; otherwise it is
    // a wrong item.
    bool skipEmptyItems = false;
    // Every item is judged, and the whole list counted, before any address is produced, so a
    // mistake at the end never waits for a wide range at the start to be written out (and
    // nothing is produced on error). Otherwise each item is produced as soon as it is judged.
    bool judgeWholeListFirst = true;
    // The most addresses one range may give (the end included) ...
    std::size_t maxRangeAddresses = std::numeric_limits<std::size_t>::max();
    // ... and the whole list.
    std::size_t maxListAddresses = std::numeric_limits<std::size_t>::max();
};

enum class ListStatus {
    Ok,
    BadItem,        // neither an IPv4 address, a computer name nor a range (or an empty item)
    BadRangeStart,  // a range whose start is no IPv4 address
    BadRangeEnd,    // a range whose end is no IPv4 address
    Unreachable,    // a range whose end the odometer walk never meets
    RangeTooLarge,  // a range wider than ListRules::maxRangeAddresses
    TooMany,        // more addresses than ListRules::maxListAddresses
    Stopped,        // the sink said stop
};

struct ListOutcome {
    ListStatus status = ListStatus::Ok;
    std::string_view item;  // the item at fault (empty for TooMany with the whole list judged)
    std::string_view part;  // the start or the end of a range, when that part is at fault
    bool ok() const { return status == ListStatus::Ok; }
};

// Splits `list` at "," and expands every item in order: ranges by the odometer rule, IPv4
// addresses and computer names as written. Appends the addresses to `out`.
ListOutcome expandAddressList(std::string_view list, const ListRules& rules,
                              std::vector<std::string>& out);

// The same, handing each item's addresses to `sink` in list order; a false from it stops the
// expansion (Stopped).
using ListSink = std::function<bool(std::string_view item, std::span<const std::string> addresses)>;
ListOutcome expandAddressList(std::string_view list, const ListRules& rules, const ListSink& sink);

}  // namespace tw::addr
