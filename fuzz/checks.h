#pragma once
// The properties the fuzz targets hold every parser of network and file input to. Each
// check takes one input and returns what went wrong, or an empty text when all held; a crash,
// hang or sanitizer report inside it is a fault too. The fuzzers (fuzz_*.cpp) and the
// regression test over the kept inputs (tests/fuzz_inputs/) share them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tw::fuzz {

using Bytes = std::span<const std::uint8_t>;

// MessagePacket and ReportPacket from a received buffer, the client's decision on it and the
// report it would send back, and the server's matching of the report to its clients.
std::string checkPackets(Bytes input);
// One preferences file read as srv_config.ini, as templates.ini and as cln_config.ini; the
// two files the server writes back must read back to the values in use and keep the lines
// the program does not own.
std::string checkPrefs(Bytes input);
// clients.xml with its lists and ranges, into the clients list and the client tree.
std::string checkClientsXml(Bytes input);
// The older clients.ini: its conversion must give a document that loads without a parse error.
std::string checkClientsIni(Bytes input);
// The dialog-definition document.
std::string checkUiDocument(Bytes input);
// The command-line sender's arguments (separated by zero bytes) and address list.
std::string checkCommandLine(Bytes input);
// The authentication trailer after a message or a report, under fixed keys, and the client's
// gate and allow list that stand on it.
std::string checkTrailer(Bytes input);
// A key file's text, read as each kind of key.
std::string checkKeyFile(Bytes input);

struct Target {
    std::string_view name;  // also the folder of its seeds and kept inputs
    std::string (*check)(Bytes);
};

inline constexpr Target kTargets[] = {
    {"packets", checkPackets},        {"prefs", checkPrefs},
    {"clients_xml", checkClientsXml}, {"clients_ini", checkClientsIni},
    {"ui_document", checkUiDocument}, {"command_line", checkCommandLine},
    {"trailer", checkTrailer},        {"key_file", checkKeyFile},
};

}  // namespace tw::fuzz
