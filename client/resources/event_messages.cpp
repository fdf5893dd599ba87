// The client's event message table and the names its diagnostic channels use.
#include "common/platform/diagnostics.h"

namespace tw::diag {

namespace {

const platform::MessageTableEntry kClientMessages[] = {
    {100, "Program was launched.\r\n", "Программа запущена.\r\n"},
    {101, "Sender: %1%rMessage ID: %2%rStatus: Received%rText:%r%3\r\n",
     "Отправитель: %1%rID сообщения: %2%rСтатус: Получено%rТекст:%r%3\r\n"},
    {102, "Sender: %1%rMessage ID: %2%rStatus: Confirmed%rText:%r%3\r\n",
     "Отправитель: %1%rID сообщения: %2%rСтатус: Подтверждено%rТекст:%r%3\r\n"},
    {103, "System shutdown signal was received. Terminating.\r\n",
     "Получен сигнал завершения работы системы. Конец работы программы.\r\n"},
};

}  // namespace

const ProgramIdentity kClientIdentity = {
    "debug_client.log",
    "Tellwick Client",
    "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\Tellwick Client",
    kClientMessages,
    std::size(kClientMessages),
};

}  // namespace tw::diag
