#pragma once
// The event-log records the programs write, by the ids of each program's message table.
// The two programs number their records in one range, so an id names one record per program.
#include <cstdint>

namespace tw {

// The type of every record the programs write.
inline constexpr std::uint16_t kEventInformation = 4;

enum class ServerEvent : std::uint32_t {
    MailingSent = 101,  // a mailing's pass or its waiting time ended
    LateReport = 104,   // a report came after the mailing's summary was written
};

enum class ClientEvent : std::uint32_t {
    Launched = 100,
    Received = 101,
    Confirmed = 102,
    SessionEnd = 103,  // the system is shutting down
    PacketsRejected = 105,
};

constexpr std::uint32_t eventId(ServerEvent e) { return static_cast<std::uint32_t>(e); }
constexpr std::uint32_t eventId(ClientEvent e) { return static_cast<std::uint32_t>(e); }

}  // namespace tw
