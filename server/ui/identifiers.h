#pragma once
// The server's symbolic identifiers: every window, gadget, menu, menu item, image, timer,
// shortcut event, regular expression and parsed document has one. The dialog document names
// windows and gadgets by these names ("Button_Send" or "#Button_Send"); values that are not
// listed are not used.
#include <QString>
#include <optional>
#include <span>
#include <string_view>

namespace tw::ui {

enum class Id : int {
    Button_Send = 0,
    Button_Save = 1,
    Button_Scan = 2,
    Button_Config = 3,
    Button_Donate = 4,
    Button_Settings_OK = 5,
    Check_Settings_Broad = 7,
    Combo_ScanL = 8,
    Combo_ScanR = 9,
    Combo_Timer = 10,
    Dialog_Main = 12,
    Dialog_Settings = 13,
    Dialog_Changelog = 14,
    Dialog_About = 15,
    Editor_Msg = 16,
    Editor_Changelog = 17,
    Editor_About = 18,
    Frame_About = 20,
    Frame_Settings_Scanner = 21,
    Frame_Settings_Common = 22,
    Hyper_About = 23,
    Ico_Config = 24,
    Ico_Scanner = 25,
    Ico_Cut = 26,
    Ico_Copy = 27,
    Ico_Paste = 28,
    Ico_Remove = 29,
    IpAddr_Settings = 30,
    List_Templs = 31,
    Menu_Config = 32,
    Menu_Scanner = 33,
    Menu_Scanner_New = 34,
    Menu_Scanner_Check = 35,
    Menu_Settings = 36,
    Menu_Changelog = 37,
    Menu_About = 38,
    Menu_Editor = 39,
    Menu_Cut = 40,
    Menu_Copy = 41,
    Menu_Paste = 42,
    Menu_Templ = 43,
    Menu_Templ_Del = 44,
    Regexp_IP_Addr = 45,
    Regexp_NetBIOS = 46,
    Short_Enter = 47,
    Short_Esc = 48,
    Short_Send = 49,
    Spin_Timer = 50,
    Splitter_Horiz = 51,
    Splitter_Vertc = 52,
    Status_Bar = 53,
    Text_ScanName = 54,
    Text_ScanAddr = 55,
    Text_ScanForm = 56,
    Timer_Send = 57,
    Timer_Scan_New = 58,
    Timer_Scan_Check = 59,
    Tree_List = 61,
    Window_Main = 62,
    XML_Clients = 65,
    XML_UI = 66,
};

struct IdEntry {
    Id id;
    std::string_view name;  // without the leading "#"
};

// Every identifier in ascending order of value.
std::span<const IdEntry> allIds();

// "Button_Send" or "#Button_Send" -> Id::Button_Send; nullopt for a name not in the table.
std::optional<Id> idFromName(std::string_view name);
std::optional<Id> idFromName(QStringView name);

// The name without "#"; empty for a value that is not an identifier.
std::string_view idName(Id id);

// The Qt object name a widget of that identifier carries (the name without "#").
QString objectName(Id id);

}  // namespace tw::ui
