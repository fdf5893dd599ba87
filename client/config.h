#pragma once
// cln_config.ini: read once at start-up from the working directory, never written.
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/packets.h"

namespace tw::client {

struct ClientConfig {
    std::uint8_t useEventLogger = 1;      // [Common] Log.UseEventLogger
    int portListen = kDefaultClientPort;  // [Network] Net.PortListen
    int portSender = kDefaultServerPort;  // [Network] Net.PortSender
    std::string allowFrom;                // [Network] Net.AllowFrom, as written
    std::string operatorKey;              // [Security] Sec.OperatorKey, as written
    std::string officeKey;                // [Security] Sec.OfficeKey, as written
    // [Security] Sec.MaxClockSkew, in seconds; checked only when a key needs it.
    std::int64_t maxClockSkew = 600;
    std::string maxClockSkewText;  // as written, for the message that refuses it
    std::filesystem::path file;    // where it was read from, for that message
};

// Reads the file; a missing file or key gives the default, a value that is not a number
// reads as 0, and Log.UseEventLogger keeps the low 8 bits of its number.
ClientConfig readClientConfig(const std::filesystem::path& file);

}  // namespace tw::client
