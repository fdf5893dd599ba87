#pragma once
// The application event log stand-in: JSON lines to $TELLWICK_EVENTLOG, else the system log.
// A sink that cannot be opened or written is ignored silently.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw::platform {

// One program's message table: event id -> text with %1..%3 and %r, in two languages.
struct MessageTableEntry {
    std::uint32_t id;
    const char* english;
    const char* russian;
    // The journal's MESSAGE_ID for this event (32 hexadecimal digits, fixed for good, so that
    // `journalctl MESSAGE_ID=...` finds every record of it), and the journal field that
    // carries each insertion string (null: none).
    const char* journalId = nullptr;
    std::array<const char*, 3> fields{};
};

struct EventRecord {
    std::string source;
    std::uint16_t type = 4;
    std::uint32_t id = 0;
    std::uint16_t category = 0;
    std::array<std::string, 3> strings;  // UTF-8
};

// Expands %1..%3 and %r of a message-table text and drops the trailing CR LF.
std::string formatEventMessage(std::string_view text, const std::array<std::string, 3>& strings);

// Writes one record, formatted from `table` (English in the JSON file; Russian in the system
// log when the locale's language is Russian).
void reportEvent(const EventRecord& record, const MessageTableEntry* table, std::size_t tableSize);

}  // namespace tw::platform
