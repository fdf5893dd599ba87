// The client's event message table and the names its diagnostic channels use.
#include "common/events.h"
#include "common/platform/diagnostics.h"

namespace tw::diag {

namespace {

const platform::MessageTableEntry kClientMessages[] = {
    {eventId(ClientEvent::Launched), "Program was launched.\r\n", "Программа запущена.\r\n",
     "f10ffd3ff19f4a49886254918a38949a"},
    {eventId(ClientEvent::Received),
     "Sender: %1%rMessage ID: %2%rStatus: Received%rText:%r%3\r\n",
     "Отправитель: %1%rID сообщения: %2%rСтатус: Получено%rТекст:%r%3\r\n",
     "59dd3fe0d89e4c5d9b6f1e64753269e6",
     {"TELLWICK_SERVER", "TELLWICK_ROOT_ID", "TELLWICK_TEXT"}},
    {eventId(ClientEvent::Confirmed),
     "Sender: %1%rMessage ID: %2%rStatus: Confirmed%rText:%r%3\r\n",
     "Отправитель: %1%rID сообщения: %2%rСтатус: Подтверждено%rТекст:%r%3\r\n",
     "60e06747d7cf43d690f5f7e08fde6036",
     {"TELLWICK_SERVER", "TELLWICK_ROOT_ID", "TELLWICK_TEXT"}},
    {eventId(ClientEvent::SessionEnd), "System shutdown signal was received. Terminating.\r\n",
     "Получен сигнал завершения работы системы. Конец работы программы.\r\n",
     "1777d8f2ca2b4b15981df36f9c2be2ac"},
    {eventId(ClientEvent::PacketsRejected),
     "Packets rejected: %1%rLast from: %2%rReason: %3\r\n",
     "Отклонено пакетов: %1%rПоследний от: %2%rПричина: %3\r\n",
     "01ae475c0ae64a949937624aa564d96e",
     {"TELLWICK_REJECTED", "TELLWICK_PEER", "TELLWICK_REASON"}},
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
