#pragma once
// Address lists shared by the command-line sender and the clients database: the two
// validity patterns (PCRE2, compiled once) and the expansion of an address range.
#include <cstddef>
#include <cstdint>
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

}  // namespace tw::addr
