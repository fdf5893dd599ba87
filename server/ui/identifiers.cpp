#include "server/ui/identifiers.h"

#include <algorithm>
#include <iterator>

namespace tw::ui {
namespace {

constexpr IdEntry kIds[] = {
    {Id::Button_Send, "Button_Send"},
    {Id::Button_Save, "Button_Save"},
    {Id::Button_Scan, "Button_Scan"},
    {Id::Button_Config, "Button_Config"},
    {Id::Button_Donate, "Button_Donate"},
    {Id::Button_Settings_OK, "Button_Settings_OK"},
    {Id::Check_Settings_Broad, "Check_Settings_Broad"},
    {Id::Combo_ScanL, "Combo_ScanL"},
    {Id::Combo_ScanR, "Combo_ScanR"},
    {Id::Combo_Timer, "Combo_Timer"},
    {Id::Dialog_Main, "Dialog_Main"},
    {Id::Dialog_Settings, "Dialog_Settings"},
    {Id::Dialog_Changelog, "Dialog_Changelog"},
    {Id::Dialog_About, "Dialog_About"},
    {Id::Editor_Msg, "Editor_Msg"},
    {Id::Editor_Changelog, "Editor_Changelog"},
    {Id::Editor_About, "Editor_About"},
    {Id::Frame_About, "Frame_About"},
    {Id::Frame_Settings_Scanner, "Frame_Settings_Scanner"},
    {Id::Frame_Settings_Common, "Frame_Settings_Common"},
    {Id::Hyper_About, "Hyper_About"},
    {Id::Ico_Config, "Ico_Config"},
    {Id::Ico_Scanner, "Ico_Scanner"},
    {Id::Ico_Cut, "Ico_Cut"},
    {Id::Ico_Copy, "Ico_Copy"},
    {Id::Ico_Paste, "Ico_Paste"},
    {Id::Ico_Remove, "Ico_Remove"},
    {Id::IpAddr_Settings, "IpAddr_Settings"},
    {Id::List_Templs, "List_Templs"},
    {Id::Menu_Config, "Menu_Config"},
    {Id::Menu_Scanner, "Menu_Scanner"},
    {Id::Menu_Scanner_New, "Menu_Scanner_New"},
    {Id::Menu_Scanner_Check, "Menu_Scanner_Check"},
    {Id::Menu_Settings, "Menu_Settings"},
    {Id::Menu_Changelog, "Menu_Changelog"},
    {Id::Menu_About, "Menu_About"},
    {Id::Menu_Editor, "Menu_Editor"},
    {Id::Menu_Cut, "Menu_Cut"},
    {Id::Menu_Copy, "Menu_Copy"},
    {Id::Menu_Paste, "Menu_Paste"},
    {Id::Menu_Templ, "Menu_Templ"},
    {Id::Menu_Templ_Del, "Menu_Templ_Del"},
    {Id::Regexp_IP_Addr, "Regexp_IP_Addr"},
    {Id::Regexp_NetBIOS, "Regexp_NetBIOS"},
    {Id::Short_Enter, "Short_Enter"},
    {Id::Short_Esc, "Short_Esc"},
    {Id::Short_Send, "Short_Send"},
    {Id::Spin_Timer, "Spin_Timer"},
    {Id::Splitter_Horiz, "Splitter_Horiz"},
    {Id::Splitter_Vertc, "Splitter_Vertc"},
    {Id::Status_Bar, "Status_Bar"},
    {Id::Text_ScanName, "Text_ScanName"},
    {Id::Text_ScanAddr, "Text_ScanAddr"},
    {Id::Text_ScanForm, "Text_ScanForm"},
    {Id::Timer_Send, "Timer_Send"},
    {Id::Timer_Scan_New, "Timer_Scan_New"},
    {Id::Timer_Scan_Check, "Timer_Scan_Check"},
    {Id::Tree_List, "Tree_List"},
    {Id::Window_Main, "Window_Main"},
    {Id::XML_Clients, "XML_Clients"},
    {Id::XML_UI, "XML_UI"},
};

}  // namespace

std::span<const IdEntry> allIds() { return kIds; }

std::optional<Id> idFromName(std::string_view name) {
    if (name.starts_with('#')) name.remove_prefix(1);
    const auto it = std::find_if(std::begin(kIds), std::end(kIds),
                                 [&](const IdEntry& e) { return e.name == name; });
    if (it == std::end(kIds)) return std::nullopt;
    return it->id;
}

std::optional<Id> idFromName(QStringView name) {
    // Identifier names are ASCII; anything else cannot match.
    const QByteArray latin = name.toLatin1();
    if (QString::fromLatin1(latin) != name) return std::nullopt;
    return idFromName(std::string_view(latin.constData(), static_cast<std::size_t>(latin.size())));
}

std::string_view idName(Id id) {
    const auto it = std::find_if(std::begin(kIds), std::end(kIds),
                                 [&](const IdEntry& e) { return e.id == id; });
    return it == std::end(kIds) ? std::string_view{} : it->name;
}

QString objectName(Id id) {
    const std::string_view n = idName(id);
    return QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
}

}  // namespace tw::ui
