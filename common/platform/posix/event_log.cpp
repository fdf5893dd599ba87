#include "common/platform/event_log.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "common/files.h"
#include "common/text.h"

namespace tw::platform {

namespace {

const MessageTableEntry* findEntry(std::uint32_t id, const MessageTableEntry* table,
                                   std::size_t tableSize) {
    for (std::size_t i = 0; table && i < tableSize; ++i)
        if (table[i].id == id) return &table[i];
    return nullptr;
}

std::string validUtf8(std::string_view s) { return utf16ToUtf8(utf8ToUtf16(s)); }

// The language the process would show its messages in: LC_ALL, then LC_MESSAGES, then LANG.
bool russianLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return v[0] == 'r' && v[1] == 'u' && (v[2] == '\0' || v[2] == '_' || v[2] == '.');
    }
    return false;
}

std::mutex syslogMutex;  // openlog's identifier is process-wide

// The journal's native interface keeps the identifier whole ("Tellwick Client", space and
// all), which syslog(3) cuts at the space, and carries the event's fields for queries.
bool sendToJournal(const EventRecord& record, const MessageTableEntry* entry,
                   const std::string& message) {
    std::vector<std::string> fields{
        "MESSAGE=" + message,
        "SYSLOG_IDENTIFIER=" + record.source,
        "PRIORITY=6",
        "TELLWICK_EVENT_ID=" + std::to_string(record.id),
        "TELLWICK_EVENT_TYPE=" + std::to_string(record.type),
    };
    if (entry && entry->journalId) fields.push_back(std::string("MESSAGE_ID=") + entry->journalId);
    for (std::size_t i = 0; entry && i < record.strings.size(); ++i) {
        if (entry->fields[i])
            fields.push_back(std::string(entry->fields[i]) + '=' + validUtf8(record.strings[i]));
    }
    std::vector<iovec> iov;
    iov.reserve(fields.size());
    for (auto& f : fields) iov.push_back({f.data(), f.size()});
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) >= 0;
}

}  // namespace

std::string formatEventMessage(std::string_view text, const std::array<std::string, 3>& strings) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            const char n = text[i + 1];
            if (n >= '1' && n <= '3') {
                out += strings[static_cast<std::size_t>(n - '1')];
                ++i;
                continue;
            }
            if (n == 'r') {
                out += '\n';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
    return out;
}

void reportEvent(const EventRecord& record, const MessageTableEntry* table, std::size_t tableSize) {
    const MessageTableEntry* entry = findEntry(record.id, table, tableSize);
    const char* file = std::getenv("TELLWICK_EVENTLOG");
    if (file && *file) {
        std::string line = "{\"source\":";
        appendJsonString(line, record.source);
        line += ",\"type\":" + std::to_string(record.type);
        line += ",\"id\":" + std::to_string(record.id);
        line += ",\"category\":" + std::to_string(record.category);
        line += ",\"strings\":[";
        for (std::size_t i = 0; i < record.strings.size(); ++i) {
            if (i) line += ',';
            appendJsonString(line, record.strings[i]);
        }
        line += "],\"message\":";
        appendJsonString(line, entry ? formatEventMessage(entry->english, record.strings) : "");
        line += "}\n";
        appendWhole(file, line);
        return;
    }

    const char* text = entry ? (russianLocale() ? entry->russian : entry->english) : "";
    const std::string message = formatEventMessage(text, record.strings);
    if (sendToJournal(record, entry, message)) return;

    // No journal: the system logger, if there is one. syslog(3) cannot say whether the record
    // arrived, so the socket is looked at first; with neither, the operator is told once.
    if (::access("/dev/log", W_OK) != 0) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            std::fprintf(stderr,
                         "%s: neither the journal nor a system logger can be reached; event "
                         "records are not kept (set TELLWICK_EVENTLOG to keep them in a file)\n",
                         record.source.c_str());
        return;
    }
    std::lock_guard lock(syslogMutex);
    ::openlog(record.source.c_str(), LOG_PID, LOG_USER);
    ::syslog(LOG_INFO, "%s", message.c_str());
    ::closelog();
}

}  // namespace tw::platform
