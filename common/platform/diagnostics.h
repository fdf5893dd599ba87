#pragma once
// The diagnostic channels of the server and the client: the debug log, the event-source
// registration and event-log records.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/event_log.h"

namespace tw::diag {

struct ProgramIdentity {
    const char* debugLogFile;   // "debug_server.log" / "debug_client.log"
    const char* eventSource;    // "Tellwick Server" / "Tellwick Client"
    const char* registryKey;    // "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\..."
    const platform::MessageTableEntry* table;
    std::size_t tableSize;
};

extern const ProgramIdentity kServerIdentity;
extern const ProgramIdentity kClientIdentity;

// Chooses the program whose names the channels below use. Call once at start-up.
void setProgram(const ProgramIdentity& identity);

// Switches the debug log on when argv[1] is exactly "--debug" and empties the file in the
// current directory. Returns the debug flag.
bool initDebugLog(int argc, char** argv);
bool debugEnabled();
// The current program's debug log file name (async-signal-safe, for the fault report).
const char* debugLogFile();
// Appends one line (UTF-8, CR LF). Opens and closes the file per line; safe from any thread.
void debugLog(std::string_view line);
void debugLog(std::u16string_view line);

// Makes sure the registry names this program file as the event message file of its source.
// False when the key cannot be created; the caller shows its box and ends.
bool registerEventMessageFile();

// The event-log switch (UseEventLogger / Log.UseEventLogger); 0 = no records.
void setEventLogSwitch(std::uint8_t value);
void writeEventLog(std::uint16_t type, std::uint32_t id, std::string_view s1 = {},
                   std::string_view s2 = {}, std::string_view s3 = {});

}  // namespace tw::diag
