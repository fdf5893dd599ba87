#include "server/data/texts.h"

#include "common/text.h"

namespace tw::server {

namespace {

struct Row {
    Text id;
    const char16_t* en;
    const char16_t* ru;
};

// Keep in the order of the enumeration; a test checks it.
constexpr Row kTable[] = {
    {Text::ErrorTitle, u"Error", u"Ошибка"},
    {Text::InfoTitle, u"Info", u"Информация"},
    {Text::CantInitNetwork, u"Can't init TCP/IP stack.", u"Не могу инициализировать стек TCP/IP."},
    // Composed with the port: prefix, then suffix (see portBusySuffix).
    {Text::PortBusy, u"Can't open port ", u"Не могу открыть порт "},
    {Text::CantCreateClientsFile, u"Can't create or open clients.xml file.",
     u"Не могу создать или открыть файл clients.xml."},
    {Text::CantCreateRegistryKey,
     u"Can't create registry key. Lack of admin privileges?\nThe program is interrupted.",
     u"Не могу создать раздел в реестре. Нет прав администратора?\nПрограмма прервана."},
    {Text::ClientsParseError, u"Error occured while parsing clients.xml: ",
     u"Ошибка в структуре clients.xml:"},
    {Text::LineLabel, u"Line", u"Строка"},
    {Text::PositionLabel, u"position", u"позиция"},
    {Text::KeyLabel, u"Key", u"Ключ"},
    {Text::SubstringLabel, u"Substring", u"Подстрока"},
    {Text::ClientsVersionTooOld,
     u"XML-base of clients is incompartible with this version of program.\n"
     u"Modify XML-base according directions.",
     u"Версия XML-базы клиентов несовместима с этой версией программы.\n"
     u"Настройте XML-базу согласно указаниям."},
    {Text::NoCheckedClients, u"No checked clients for testing",
     u"Нет отмеченных клиентов для проверки"},
    {Text::BadBroadcastAddress, u"Please setup correct broadcast address.",
     u"Настроен некорректный широковещательный адрес."},
    {Text::CantSaveTemplate, u"Can't save template!", u"Не удалось сохранить шаблон!"},
    {Text::UdpWarning,
     u"You have chosen UDP as transfer protocol.\n"
     u"Remember, UDP is fast, but isn't reliable protocol and sometimes\n"
     u"in overloaded networks messages cannot be delivered to addressee.\n\n"
     u"If this is critical for you, please choose TCP as transfer protocol.",
     u"У вас в настройках выбран протокол передачи UDP.\n"
     u"Помните, что UDP работает быстро, но ненадёжен,\n"
     u"и в перегруженных сетях сообщения иногда могут не доходить.\n\n"
     u"Если для вас это критично, выберите в настройках протокол передачи TCP."},
    {Text::CantSaveSettings,
     u"Can't save the settings to srv_config.ini. The file was left as it was; the changes "
     u"made in this session are lost.",
     u"Не могу сохранить настройки в srv_config.ini. Файл оставлен без изменений; изменения "
     u"этого сеанса потеряны."},
    // Reasons put after the clients.xml parse error, with the element's line and position.
    {Text::ClientsTooDeep, u"<%1> is nested deeper than %2 levels",
     u"<%1>: вложенность глубже %2 уровней"},
    {Text::ClientsTooMany, u"<%1> makes the tree larger than %2 items",
     u"<%1>: в дереве больше %2 элементов"},
    {Text::ClientsTooLong, u"<%1> has a name or text longer than %2 characters",
     u"<%1>: имя или текст длиннее %2 символов"},
    {Text::ClientsFileTooLarge, u"the file is larger than %1 MB", u"файл больше %1 МБ"},
    {Text::ClientsBackupFailed,
     u"Can't keep a copy of the clients database as %1; clients.xml was not replaced.",
     u"Не могу сохранить копию базы клиентов как %1; clients.xml не заменён."},
    {Text::SendShortcutTip, u"Keyboard shortcut: Ctrl+Enter", u"Быстрая отправка: Ctrl+Enter"},
    {Text::SaveTemplateTip, u"Template syntax: \"header\" message body",
     u"Формат шаблона: \"Заголовок\" тело сообщения (можно многострочное)"},
    {Text::SaveTemplateCaption, u"Save template", u"Сохранить шаблон"},
    {Text::AllClients, u"All clients", u"Все клиенты"},
    {Text::SendMessage, u"Send message", u"Послать сообщение"},
    {Text::StopSending, u"Stop sending", u"Остановить рассылку"},
    {Text::Settings, u"Settings", u"Настройки"},
    {Text::Changelog, u"Changelog", u"История изменений"},
    {Text::About, u"About", u"О программе"},
    // Composed with kDonationServiceName.
    {Text::Donate, u"Donate by ", u"Сделать пожертвование через "},
    {Text::Copy, u"Copy", u"Копировать"},
    {Text::Cut, u"Cut", u"Вырезать"},
    {Text::Paste, u"Paste", u"Вставить"},
    {Text::Remove, u"Remove", u"Удалить"},
    {Text::UnitSec, u"sec", u"сек"},
    {Text::UnitMin, u"min", u"мин"},
    {Text::UnitHrs, u"hrs", u"час"},
    {Text::Ready, u"Ready", u"Готов к работе"},
    {Text::Sending, u"Sending...", u"Рассылка..."},
    {Text::SendingFinished, u"Sending finished", u"Рассылка завершена"},
    {Text::SendingInterrupted, u"Sending interrupted", u"Рассылка прервана"},
    {Text::JobFinished, u"job finished.", u"работа завершена"},
    {Text::Delivered, u"Delivered", u"Доставлено"},
    {Text::Confirmed, u"Confirmed", u"Подтверждено"},
    {Text::NotDelivered, u"Not delivered", u"Не доставлено"},
    {Text::In, u"in", u"в"},
    {Text::ClientsScanner, u"Clients scanner", u"Сканер клиентов"},
    {Text::NewClientsScanning, u"New clients scanning", u"Новое сканирование"},
    {Text::CheckWorkingClients, u"Check working clients", u"Проверка клиентов"},
    {Text::FrameCommon, u"Common", u"Общие"},
    {Text::UseBroadcastMode, u"Use broadcast mode", u"Использовать режим broadcast"},
    {Text::BroadcastModeTip,
     u"With checkbox enabled, server sends 1 UDP-packet to broadcast address, instead of "
     u"message queue to all clients.",
     u"При включенном флажке, вместо очереди сообщений, сервер будет отсылать 1 UDP-пакет на "
     u"указанный адрес."},
    {Text::ScanName, u"Name", u"Имя"},
    {Text::ScanAddress, u"Address", u"Адрес"},
    {Text::FrameScanner, u"Scanner", u"Сканер"},
    {Text::DataSavingFormat, u"Data saving format", u"Формат сохранения данных"},
    {Text::BackupKept, u"the previous database is kept as %1", u"предыдущая база сохранена как %1"},
    {Text::NoNews, u"No news", u"Нет сведений"},
    {Text::Answered, u"Answered", u"Ответил"},
    {Text::OutcomeOf, u"of", u"из"},
    {Text::WaitingUntil, u"waiting until", u"ожидание до"},
    {Text::WaitingEnded, u"waiting ended", u"ожидание завершено"},
    {Text::History, u"History", u"История рассылок"},
    {Text::HistoryTime, u"Time", u"Время"},
    {Text::HistoryMessage, u"Message", u"Сообщение"},
    {Text::HistoryTransport, u"Transport", u"Протокол"},
    {Text::HistoryTotal, u"Total", u"Всего"},
    {Text::HistoryState, u"State", u"Состояние"},
    {Text::HistoryReportTime, u"Report time", u"Время отчёта"},
    {Text::HistoryExport, u"Export as CSV...", u"Сохранить как CSV..."},
    {Text::HistoryEmpty, u"No mailings yet.", u"Рассылок ещё не было."},
    {Text::CantWriteFile, u"Can't write the file ", u"Не могу записать файл "},
    {Text::CantWriteHistory, u"Can't write the mailing history (mailings.jsonl).",
     u"Не могу записать историю рассылок (mailings.jsonl)."},
    {Text::FollowUnconfirmed, u"Send again to those who did not confirm",
     u"Послать снова тем, кто не подтвердил"},
    {Text::FollowUndelivered, u"Send again to those who were not delivered",
     u"Послать снова тем, кому не доставлено"},
    {Text::FollowUpTicked, u"Ticked for sending again: ", u"Отмечено для повторной рассылки: "},
    {Text::FindClients, u"Find clients", u"Найти клиентов"},
    {Text::FindPlaceholder, u"Caption or address", u"Название или адрес"},
    {Text::ColourLegend, u"Colour legend", u"Условные обозначения"},
    {Text::LegendText,
     u"Grey: no news\nYellow: delivered\nGreen: confirmed\nRed: not delivered\n"
     u"Blue: answered the check",
     u"Серый: нет сведений\nЖёлтый: доставлено\nЗелёный: подтверждено\n"
     u"Красный: не доставлено\nСиний: ответил на проверку"},
    {Text::Close, u"Close", u"Закрыть"},
    {Text::KeyNoCryptography, u"%1: the cryptography library could not start",
     u"%1: не удалось запустить библиотеку криптографии"},
    {Text::KeyMissing, u"%1: the key file is missing", u"%1: файл ключа не найден"},
    {Text::KeyNotAFile, u"%1: not a regular file", u"%1: это не обычный файл"},
    {Text::KeyUnreadable, u"%1: the key file cannot be read", u"%1: файл ключа не читается"},
    {Text::KeyNotAKeyFile, u"%1: not a Tellwick key file", u"%1: это не файл ключа Tellwick"},
    {Text::KeyWrongKind, u"%1: a key of the wrong kind (%2, not %3)",
     u"%1: ключ не того вида (%2, а нужен %3)"},
    {Text::KeyOpenToOthers, u"%1: the secret key is readable by others (chmod 600 it)",
     u"%1: секретный ключ могут читать другие пользователи (выполните chmod 600)"},
    {Text::KeyMalformed, u"%1: the key is malformed", u"%1: ключ повреждён"},
    {Text::AccMessage, u"Message text", u"Текст сообщения"},
    {Text::AccTemplates, u"Templates", u"Шаблоны"},
    {Text::AccClients, u"Clients", u"Клиенты"},
    {Text::AccWaitTime, u"Waiting time", u"Время ожидания"},
    {Text::AccWaitUnit, u"Unit of the waiting time", u"Единица времени ожидания"},
    {Text::AccChecked, u"checked", u"отмечен"},
    {Text::AccUnchecked, u"unchecked", u"не отмечен"},
    {Text::AccPartlyChecked, u"partly checked", u"отмечен частично"},
    {Text::AccNoNews, u"no news", u"нет сведений"},
    {Text::AccDelivered, u"delivered", u"доставлено"},
    {Text::AccConfirmed, u"confirmed", u"подтверждено"},
    {Text::AccNotDelivered, u"not delivered", u"не доставлено"},
    {Text::AccAnswered, u"answered the check", u"ответил на проверку"},
    {Text::AccAt, u"at", u"в"},
};

static_assert(std::size(kTable) == static_cast<std::size_t>(Text::Count),
              "every text needs its row");

constexpr bool tableInEnumOrder() {
    for (std::size_t i = 0; i < std::size(kTable); ++i)
        if (static_cast<std::size_t>(kTable[i].id) != i) return false;
    return true;
}
static_assert(tableInEnumOrder(), "rows must follow the order of enum Text");

const Row& row(Text id) { return kTable[static_cast<std::size_t>(id)]; }

QString portBusySuffix(bool english) {
    return english ? QStringLiteral(". Already busy?") : QStringLiteral(". Уже используется?");
}

}  // namespace

InterfaceTexts::InterfaceTexts() { setLanguage(QStringLiteral("RU"), 47128, nullptr); }

QString InterfaceTexts::english(Text id) { return QString::fromUtf16(row(id).en); }
QString InterfaceTexts::russian(Text id) { return QString::fromUtf16(row(id).ru); }

void InterfaceTexts::setLanguage(const QString& code, int portListen, Notifier* notifier) {
    QString chosen = code.toUpper();
    if (chosen != QLatin1String("RU") && chosen != QLatin1String("EN")) {
        if (notifier)
            notifier->messageBox(QString::fromUtf16(kLanguageWarningTitle),
                                 QString::fromUtf16(kLanguageWarningText),
                                 tw::platform::BoxIcon::Warning);
        chosen = QStringLiteral("RU");
    }
    const bool english = chosen == QLatin1String("EN");
    for (const Row& r : kTable)
        texts_[static_cast<std::size_t>(r.id)] = QString::fromUtf16(english ? r.en : r.ru);
    texts_[static_cast<std::size_t>(Text::PortBusy)] +=
        QString::number(portListen) + portBusySuffix(english);
    texts_[static_cast<std::size_t>(Text::Donate)] += QString::fromUtf16(kDonationServiceName);
    language_ = chosen;
}

QString fromFileText(std::string_view utf8) {
    // Copied unit by unit: QString::fromUtf16 would take a leading U+FEFF for a byte-order mark.
    const std::u16string units = tw::utf8ToUtf16(utf8);
    return QString(reinterpret_cast<const QChar*>(units.data()),
                   static_cast<qsizetype>(units.size()));
}

std::string toFileText(const QString& text) { return tw::utf16ToUtf8(text.toStdU16String()); }

InterfaceTexts& uiTexts() {
    static InterfaceTexts texts;
    return texts;
}

}  // namespace tw::server
