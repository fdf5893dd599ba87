#include "client/config.h"

#include <charconv>
#include <fstream>
#include <string>
#include <string_view>

namespace tw::client {
namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Leading decimal number with an optional sign; anything else reads as 0.
long long toInteger(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    (void)end;
    if (ec == std::errc::result_out_of_range) return 0;
    return ec == std::errc() ? v : 0;
}

int toPort(long long v) {
    // Out-of-range numbers must stay out of range, so that opening the listener refuses them
    // rather than wrapping round to some other port.
    if (v > 1'000'000) return 1'000'000;
    if (v < -1) return -1;
    return static_cast<int>(v);
}

}  // namespace

ClientConfig readClientConfig(const std::filesystem::path& file) {
    ClientConfig c;
    std::ifstream in(file, std::ios::binary);
    if (!in) return c;
    std::string group;
    std::string raw;
    bool first = true;
    while (std::getline(in, raw)) {
        std::string_view line = raw;
        if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        first = false;
        line = trim(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            group = std::string(trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        if (group == "Common" && key == "Log.UseEventLogger")
            c.useEventLogger = static_cast<std::uint8_t>(toInteger(value) & 0xFF);
        else if (group == "Network" && key == "Net.PortListen")
            c.portListen = toPort(toInteger(value));
        else if (group == "Network" && key == "Net.PortSender")
            c.portSender = toPort(toInteger(value));
    }
    return c;
}

}  // namespace tw::client
