#pragma once
// The operator-facing texts of the server in English and Russian, chosen once per run.
#include <QString>
#include <array>
#include <string>
#include <string_view>

#include "common/platform/message_box.h"

namespace tw::server {

// One entry per text of the interface; the English and Russian wording lives in one table
// in texts.cpp.
enum class Text {
    // message boxes
    ErrorTitle,             // "Error"
    InfoTitle,              // "Info"
    CantInitNetwork,        // "Can't init TCP/IP stack."
    PortBusy,               // "Can't open port <PortListen>. Already busy?"
    CantCreateClientsFile,  // "Can't create or open clients.xml file."
    CantCreateRegistryKey,  // "Can't create registry key. ..."
    ClientsParseError,      // "Error occured while parsing clients.xml: "
    LineLabel,              // "Line"
    PositionLabel,          // "position"
    KeyLabel,               // "Key"
    SubstringLabel,         // "Substring"
    ClientsVersionTooOld,   // "XML-base of clients is incompartible ..."
    NoCheckedClients,       // "No checked clients for testing"
    BadBroadcastAddress,    // "Please setup correct broadcast address."
    CantSaveTemplate,       // "Can't save template!"
    UdpWarning,             // "You have chosen UDP as transfer protocol. ..."
    CantSaveSettings,       // "Can't save the settings to srv_config.ini. ..."
    ClientsTooDeep,         // "<%1> is nested deeper than %2 levels"
    ClientsTooMany,         // "<%1> makes the tree larger than %2 items"
    ClientsTooLong,         // "<%1> has a name or text longer than %2 characters"
    ClientsFileTooLarge,    // "the file is larger than %1 MB"
    ClientsBackupFailed,    // "Can't keep a copy of the clients database as %1; ..."
    // main window
    SendShortcutTip,      // "Keyboard shortcut: Ctrl+Enter"
    SaveTemplateTip,      // "Template syntax: \"header\" message body"
    SaveTemplateCaption,  // "Save template"
    AllClients,           // "All clients"
    SendMessage,          // "Send message"
    StopSending,          // "Stop sending"
    Settings,             // "Settings"
    Changelog,            // "Changelog"
    About,                // "About"
    Donate,               // "Donate by <service>"
    Copy,                 // "Copy"
    Cut,                  // "Cut"
    Paste,                // "Paste"
    Remove,               // "Remove"
    UnitSec,              // "sec"
    UnitMin,              // "min"
    UnitHrs,              // "hrs"
    // status bar and delivery summary
    Ready,               // "Ready"
    Sending,             // "Sending..."
    SendingFinished,     // "Sending finished"
    SendingInterrupted,  // "Sending interrupted"
    JobFinished,         // "job finished."
    Delivered,           // "Delivered"
    Confirmed,           // "Confirmed"
    NotDelivered,        // "Not delivered"
    In,                  // "in"
    // scanner and settings dialog
    ClientsScanner,       // "Clients scanner"
    NewClientsScanning,   // "New clients scanning"
    CheckWorkingClients,  // "Check working clients"
    FrameCommon,          // "Common"
    UseBroadcastMode,     // "Use broadcast mode"
    BroadcastModeTip,     // "With checkbox enabled, ..."
    ScanName,             // "Name"
    ScanAddress,          // "Address"
    FrameScanner,         // "Scanner"
    DataSavingFormat,     // "Data saving format"
    BackupKept,           // "the previous database is kept as %1"
    // The outcome of a mailing, its history and the follow-up.
    NoNews,             // "No news"
    Answered,           // "Answered"
    OutcomeOf,          // "of" (Confirmed 41 · Delivered 3 · Not delivered 2 of 46)
    WaitingUntil,       // "waiting until"
    WaitingEnded,       // "waiting ended"
    History,            // "History"
    HistoryTime,        // "Time"
    HistoryMessage,     // "Message"
    HistoryTransport,   // "Transport"
    HistoryTotal,       // "Total"
    HistoryState,       // "State"
    HistoryReportTime,  // "Report time"
    HistoryExport,      // "Export as CSV..."
    HistoryEmpty,       // "No mailings yet."
    CantWriteFile,      // "Can't write the file "
    CantWriteHistory,   // "Can't write the mailing history (mailings.jsonl)."
    FollowUnconfirmed,  // "Send again to those who did not confirm"
    FollowUndelivered,  // "Send again to those who were not delivered"
    FollowUpTicked,     // "Ticked for sending again: "
    FindClients,        // "Find clients"
    FindPlaceholder,    // "Caption or address"
    ColourLegend,       // "Colour legend"
    LegendText,         // the meaning of each state colour
    Close,              // "Close"
    // Key files named in [Security] that cannot be used; %1 is the file.
    KeyNoCryptography,  // "%1: the cryptography library could not start"
    KeyMissing,         // "%1: the key file is missing"
    KeyNotAFile,        // "%1: not a regular file"
    KeyUnreadable,      // "%1: the key file cannot be read"
    KeyNotAKeyFile,     // "%1: not a Tellwick key file"
    KeyWrongKind,       // "%1: a key of the wrong kind (%2, not %3)"
    KeyOpenToOthers,    // "%1: the secret key is readable by others (chmod 600 it)"
    KeyMalformed,       // "%1: the key is malformed"
    // What screen readers are told.
    AccMessage,        // "Message text"
    AccTemplates,      // "Templates"
    AccClients,        // "Clients"
    AccWaitTime,       // "Waiting time"
    AccWaitUnit,       // "Unit of the waiting time"
    AccChecked,        // "checked"
    AccUnchecked,      // "unchecked"
    AccPartlyChecked,  // "partly checked"
    AccNoNews,         // "no news"
    AccDelivered,      // "delivered"
    AccConfirmed,      // "confirmed"
    AccNotDelivered,   // "not delivered"
    AccAnswered,       // "answered the check"
    AccAt,             // "at"
    Count
};

// The payment service named on the donation button.
inline constexpr char16_t kDonationServiceName[] = u"Liberapay";

// The box for an unknown language code, always in English.
inline constexpr char16_t kLanguageWarningTitle[] = u"Warning";
inline constexpr char16_t kLanguageWarningText[] =
    u"Incorrect language setting, only RU or EN are permissible.\n"
    u"Application was launched with default 'RU' setting.";

// Receives the message boxes that the data layer wants shown; the window shows them with
// tw::platform::showMessageBox, tests record them. May be null where a call takes a pointer.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void messageBox(const QString& title, const QString& text,
                            tw::platform::BoxIcon icon) = 0;
};

class InterfaceTexts {
public:
    InterfaceTexts();  // Russian, port 47128

    // Upper-cases the code; anything but "RU" and "EN" shows the English warning through
    // `notifier` and selects "RU". The busy-port text is composed with `portListen`.
    void setLanguage(const QString& code, int portListen, Notifier* notifier);

    const QString& language() const { return language_; }  // "RU" or "EN"
    const QString& get(Text id) const { return texts_[static_cast<std::size_t>(id)]; }
    const QString& operator[](Text id) const { return get(id); }

    // The English and Russian wording of an entry as it stands in the table (the busy-port
    // text without its port).
    static QString english(Text id);
    static QString russian(Text id);

private:
    QString language_;
    std::array<QString, static_cast<std::size_t>(Text::Count)> texts_;
};

// Text read from a preferences file, every character kept: QString::fromUtf8 (and fromUtf16)
// drop a leading U+FEFF, and a value that lost it can no longer be written back as read.
QString fromFileText(std::string_view utf8);
// The reverse, every character kept (QString::toStdString drops a leading U+FEFF likewise).
std::string toFileText(const QString& text);

// The program-wide texts, set once at start-up before any window or worker exists and only
// read afterwards.
InterfaceTexts& uiTexts();

}  // namespace tw::server
