#include "server/data/clients_xml.h"

#include <QList>
#include <system_error>

#include "common/files.h"

namespace tw::server {

namespace {

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString escape(const QString& s, bool attribute) {
    QString out;
    out.reserve(s.size());
    for (char32_t c : s.toUcs4()) {
        switch (c) {
            case U'&':
                out += QStringLiteral("&amp;");
                break;
            case U'<':
                out += QStringLiteral("&lt;");
                break;
            case U'>':
                out += QStringLiteral("&gt;");
                break;
            case U'"':
                out += attribute ? QStringLiteral("&quot;") : QStringLiteral("\"");
                break;
            // Line breaks and tabs in attributes would be folded to blanks on reading.
            case U'\n':
                out += attribute ? QStringLiteral("&#10;") : QStringLiteral("\n");
                break;
            case U'\r':
                out += QStringLiteral("&#13;");
                break;
            case U'\t':
                out += attribute ? QStringLiteral("&#9;") : QStringLiteral("\t");
                break;
            default:
                if (allowedInXml(c)) out += QString::fromUcs4(&c, 1);
        }
    }
    return out;
}

void formatElement(const XmlElement& e, int level, QString& out) {
    const QString indent(level * 4, u' ');
    out += indent + u'<' + e.name;
    for (const auto& [key, value] : e.attributes)
        out += u' ' + key + QStringLiteral("=\"") + escape(value, true) + u'"';
    if (e.text.isEmpty() && e.children.empty()) {
        out += QStringLiteral("/>\n");
        return;
    }
    out += u'>' + escape(e.text, false);
    if (e.children.empty()) {
        out += QStringLiteral("</") + e.name + QStringLiteral(">\n");
        return;
    }
    out += u'\n';
    for (const XmlElement& child : e.children) formatElement(child, level + 1, out);
    out += indent + QStringLiteral("</") + e.name + QStringLiteral(">\n");
}

}  // namespace

XmlElement newClientsDocument() {
    XmlElement root{QStringLiteral("root"), {}, {}, {}};
    root.attributes.emplace_back(QStringLiteral("config"), QStringLiteral("3.1"));
    return root;
}

std::string formatClientsDocument(const XmlElement& root) {
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    formatElement(root, 0, out);
    return out.toStdString();
}

bool writeClientsDocument(const std::filesystem::path& path, const XmlElement& root) {
    return writeFileAtomically(path, formatClientsDocument(root));
}

std::filesystem::path backupPathFor(const std::filesystem::path& path) {
    std::filesystem::path backup = path;
    backup += ".bak";
    return backup;
}

ReplaceResult replaceClientsDocument(const std::filesystem::path& path, const XmlElement& root) {
    ReplaceResult result;
    std::error_code ec;
    // A hand-built database may be the only copy of the administrator's work; a scan replaces
    // it only once it is safe beside it.
    if (std::filesystem::exists(path, ec)) {
        const auto old = readWholeFile(path);
        if (!old || !writeFileAtomically(backupPathFor(path), *old)) return result;
        result.backupKept = true;
    }
    result.saved = writeClientsDocument(path, root);
    return result;
}

}  // namespace tw::server
