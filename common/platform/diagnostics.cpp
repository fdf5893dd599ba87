#include "common/platform/diagnostics.h"

#include <atomic>
#include <cstring>

#include "common/files.h"
#include "common/platform/file_io.h"
#include "common/platform/paths.h"
#include "common/platform/registry.h"
#include "common/text.h"

namespace tw::diag {

namespace {

// Until a program names itself with setProgram(), the channels use the server's names. Each
// program links its own message table, so this one has none.
constexpr ProgramIdentity kUnnamedProgram = {
    "debug_server.log",
    "Tellwick Server",
    "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\Tellwick Server",
    nullptr,
    0,
};

// Read by the fault handler too, so plain atomics and no locks.
std::atomic<const ProgramIdentity*> program{&kUnnamedProgram};
std::atomic<bool> debugFlag{false};
std::atomic<std::uint8_t> eventLogSwitch{0};

constexpr const char* kEventMessageFile = "EventMessageFile";

}  // namespace

void setProgram(const ProgramIdentity& identity) { program.store(&identity); }

bool initDebugLog(int argc, char** argv) {
    if (argc < 2 || !argv || !argv[1] || std::strcmp(argv[1], "--debug") != 0)
        return debugFlag.load();
    debugFlag.store(true);
    platform::emptyFile(debugLogFile());
    return true;
}

bool debugEnabled() { return debugFlag.load(std::memory_order_relaxed); }

const char* debugLogFile() { return program.load(std::memory_order_relaxed)->debugLogFile; }

void debugLog(std::string_view line) {
    if (!debugEnabled()) return;
    // One write per line: lines of different threads may interleave, never mix.
    std::string buf;
    buf.reserve(line.size() + 2);
    buf.append(line).append("\r\n");
    appendWhole(debugLogFile(), buf);
}

void debugLog(std::u16string_view line) {
    if (!debugEnabled()) return;
    debugLog(std::string_view(utf16ToUtf8(line)));
}

bool registerEventMessageFile() {
    const ProgramIdentity& id = *program.load();
    const std::string self = platform::programPath().string();
    const auto stored = platform::registry::readValue(id.registryKey, kEventMessageFile);
    // A value that already names this program file is left alone, so no write rights are needed.
    if (stored && !self.empty() &&
        platform::pathCompareForm(*stored) == platform::pathCompareForm(self))
        return true;
    return platform::registry::writeValue(id.registryKey, kEventMessageFile, self);
}

void setEventLogSwitch(std::uint8_t value) { eventLogSwitch.store(value); }

void writeEventLog(std::uint16_t type, std::uint32_t id, std::string_view s1, std::string_view s2,
                   std::string_view s3) {
    if (eventLogSwitch.load() == 0) return;
    const ProgramIdentity& p = *program.load();
    platform::EventRecord record;
    record.source = p.eventSource;
    record.type = type;
    record.id = id;
    record.category = 0;
    record.strings = {std::string(s1), std::string(s2), std::string(s3)};
    platform::reportEvent(record, p.table, p.tableSize);
}

}  // namespace tw::diag
