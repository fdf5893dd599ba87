#pragma once
// Writing clients databases: the conversion of the older list and the scan collector build a
// small element tree and write it with writeClientsDocument.
#include <QString>
#include <filesystem>
#include <utility>
#include <vector>

namespace tw::server {

struct XmlElement {
    QString name;
    std::vector<std::pair<QString, QString>> attributes;  // in the order written
    QString text;                                         // written before the children
    std::vector<XmlElement> children;

    XmlElement& addChild(QString childName) {
        children.push_back(XmlElement{std::move(childName), {}, {}, {}});
        return children.back();
    }
};

// The element "root" with config="3.1", the start of every database this program writes.
XmlElement newClientsDocument();

// The document as UTF-8: an XML declaration naming UTF-8, then one element per line, four
// spaces of indent per level, LF line ends. Characters that XML 1.0 cannot carry are left out
// so that the file always reads back.
std::string formatClientsDocument(const XmlElement& root);

// Replaces the file at `path` (atomically) with the formatted document.
bool writeClientsDocument(const std::filesystem::path& path, const XmlElement& root);

// The name beside `path` under which the database a scan replaces is kept: "clients.xml.bak".
std::filesystem::path backupPathFor(const std::filesystem::path& path);

struct ReplaceResult {
    bool saved = false;       // the new document is in place
    bool backupKept = false;  // the previous file is now at backupPathFor(path)
};

// Keeps the file at `path`, when there is one, as backupPathFor(path) (replacing an older
// copy, written safely), then writes the document over `path`. A database that cannot be
// copied is not replaced: nothing is written and `saved` is false.
ReplaceResult replaceClientsDocument(const std::filesystem::path& path, const XmlElement& root);

}  // namespace tw::server
