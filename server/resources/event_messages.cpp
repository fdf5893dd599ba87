// The server's event message table and the names its diagnostic channels use.
#include "common/events.h"
#include "common/platform/diagnostics.h"

namespace tw::diag {

namespace {

const platform::MessageTableEntry kServerMessages[] = {
    {eventId(ServerEvent::MailingSent),
     "Message ID: %1%rStatus: Sent%rText:%r%2%r%r%3\r\n",
     "ID сообщения: %1%rСтатус: Отправлено%rТекст:%r%2%r%r%3\r\n",
     "88a5a6da0bbe43148499980e2ca6ac98",
     {"TELLWICK_ROOT_ID", "TELLWICK_TEXT", "TELLWICK_SUMMARY"}},
    // A report that came after the mailing's summary was written.
    {eventId(ServerEvent::LateReport),
     "Message ID: %1%rLate report from: %2%rStatus: %3\r\n",
     "ID сообщения: %1%rПоздний отчёт от: %2%rСтатус: %3\r\n",
     "e8d04e0dd4fd40a98fa3c64403f64b98",
     {"TELLWICK_ROOT_ID", "TELLWICK_CLIENT", "TELLWICK_STATUS"}},
};

}  // namespace

const ProgramIdentity kServerIdentity = {
    "debug_server.log",
    "Tellwick Server",
    "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\Tellwick Server",
    kServerMessages,
    std::size(kServerMessages),
};

}  // namespace tw::diag
