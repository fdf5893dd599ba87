#include "client/config.h"

#include "common/prefs.h"

namespace tw::client {
namespace {

int toPort(std::int64_t v) {
    // Out-of-range numbers must stay out of range, so that opening the listener refuses them
    // rather than wrapping round to some other port.
    if (v > 1'000'000) return 1'000'000;
    if (v < -1) return -1;
    return static_cast<int>(v);
}

}  // namespace

ClientConfig readClientConfig(const std::filesystem::path& file) {
    ClientConfig c;
    c.file = file;
    prefs::PrefsFile f;
    if (!f.load(file)) return c;
    c.useEventLogger = static_cast<std::uint8_t>(
        f.getInt("Common", "Log.UseEventLogger", c.useEventLogger) & 0xFF);
    c.portListen = toPort(f.getInt("Network", "Net.PortListen", c.portListen));
    c.portSender = toPort(f.getInt("Network", "Net.PortSender", c.portSender));
    c.allowFrom = f.getString("Network", "Net.AllowFrom", "");
    c.operatorKey = f.getString("Security", "Sec.OperatorKey", "");
    c.officeKey = f.getString("Security", "Sec.OfficeKey", "");
    c.maxClockSkewText = f.getString("Security", "Sec.MaxClockSkew", "");
    c.maxClockSkew = f.getInt("Security", "Sec.MaxClockSkew", c.maxClockSkew);
    return c;
}

}  // namespace tw::client
