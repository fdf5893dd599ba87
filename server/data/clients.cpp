#include "server/data/clients.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "common/addresses.h"
#include "common/files.h"
#include "common/platform/paths.h"
#include "common/prefs.h"
#include "server/data/clients_xml.h"

namespace tw::server {

namespace fs = std::filesystem;

namespace {

constexpr float kOldestVersion = 3.1f;

// The version attribute read as the number it begins with; no number reads as 0.
float leadingFloat(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    float value = 0.0f;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), value);
    return r.ec == std::errc() ? value : 0.0f;
}

QString attribute(const XML_Char** attrs, const char* name) {
    for (int i = 0; attrs[i]; i += 2)
        if (std::strcmp(attrs[i], name) == 0) return QString::fromUtf8(attrs[i + 1]);
    return QString();
}

// Expat callbacks build the list as the document streams by. The whole document is parsed
// even after the first problem, because a parse error anywhere outranks a bad version, which
// outranks a bad list entry.
class Loader {
public:
    Loader(ClientsList& list, const InterfaceTexts& texts, const ClientsLimits& limits,
           XML_Parser parser)
        : list_(list), t_(texts), limits_(limits), parser_(parser) {}

    void start(const char* name, const XML_Char** attrs) {
        if (!limitError_.isEmpty()) return;
        const Kind parent = open_.empty() ? Kind::None : open_.back();
        // The document element is level 0; the root record's children are level 1.
        if (static_cast<int>(open_.size()) > limits_.maxDepth)
            return overLimit(Text::ClientsTooDeep, name, limits_.maxDepth);
        for (int i = 0; attrs[i]; i += 2)
            if (std::strlen(attrs[i + 1]) > limits_.maxNameBytes)
                return overLimit(Text::ClientsTooLong, name, limits_.maxNameBytes);
        if (open_.empty()) {
            open_.push_back(Kind::Root);
            startRoot(attrs);
            return;
        }
        if (stopped() || parent == Kind::Skip || parent == Kind::List || parent == Kind::Key) {
            open_.push_back(Kind::Skip);
            return;
        }
        const std::string_view n(name);
        if ((n == "group" || n == "list" || n == "key") && !roomFor(1, name)) return;
        if (n == "group") {
            addRecord(QString(), attribute(attrs, "name"), 1);
            folders_.push_back(static_cast<std::int32_t>(list_.size() - 1));
            open_.push_back(Kind::Group);
        } else if (n == "list") {
            addRecord(QString(), attribute(attrs, "name"), 1);
            open_.push_back(Kind::List);
            text_.clear();
        } else if (n == "key") {
            caption_ = attribute(attrs, "name");
            open_.push_back(Kind::Key);
            text_.clear();
        } else {
            open_.push_back(Kind::Skip);
        }
    }

    void end() {
        if (!limitError_.isEmpty() || open_.empty()) return;
        const Kind kind = open_.back();
        open_.pop_back();
        if (stopped()) return;
        switch (kind) {
            case Kind::Group:
                folders_.pop_back();
                break;
            case Kind::Key:
                if (roomFor(1, "key")) addRecord(QString::fromUtf8(text_).toUpper(), caption_, 0);
                break;
            case Kind::List:
                expandList();
                break;
            default:
                break;
        }
    }

    void characters(const char* s, int len) {
        if (!limitError_.isEmpty() || open_.empty()) return;
        if (open_.back() == Kind::Key &&
            text_.size() + static_cast<std::size_t>(len) > limits_.maxNameBytes)
            return overLimit(Text::ClientsTooLong, "key", limits_.maxNameBytes);
        if (open_.back() == Kind::List || open_.back() == Kind::Key)
            text_.append(s, static_cast<std::size_t>(len));
    }

    bool versionTooOld() const { return versionTooOld_; }
    const QString& entryError() const { return entryError_; }
    // A bound of ClientsLimits was crossed: the reason and where, already composed.
    const QString& limitError() const { return limitError_; }

private:
    enum class Kind { None, Root, Group, List, Key, Skip };

    bool stopped() const {
        return versionTooOld_ || !entryError_.isEmpty() || !limitError_.isEmpty();
    }

    // Stops the parse at once: nothing after this element is read.
    void overLimit(Text reason, std::string_view element, std::size_t bound) {
        limitError_ = t_[Text::ClientsParseError] + u' ' +
                      t_[reason].arg(
                          QString::fromUtf8(element.data(), static_cast<qsizetype>(element.size())),
                          QString::number(bound)) +
                      u'\n' + t_[Text::LineLabel] + u' ' +
                      QString::number(XML_GetCurrentLineNumber(parser_)) + QStringLiteral(", ") +
                      t_[Text::PositionLabel] + u' ' +
                      QString::number(XML_GetCurrentColumnNumber(parser_));
        XML_StopParser(parser_, XML_FALSE);
    }

    bool roomFor(std::size_t more, const char* element) {
        if (list_.size() + more <= limits_.maxItems) return true;
        overLimit(Text::ClientsTooMany, element, limits_.maxItems);
        return false;
    }

    void startRoot(const XML_Char** attrs) {
        if (leadingFloat(attribute(attrs, "config")) < kOldestVersion) {
            versionTooOld_ = true;
            return;
        }
        ClientRecord root;
        root.name = QString::fromUtf16(kRootRecordName);
        root.folder = 1;
        root.parentIndex = -1;
        root.level = 0;
        list_.push_back(std::move(root));
        folders_.push_back(0);
    }

    // Level of an item directly inside the innermost open folder.
    std::int32_t level() const { return static_cast<std::int32_t>(folders_.size()); }

    void addRecord(QString address, QString name, std::uint8_t folder) {
        ClientRecord r;
        r.address = std::move(address);
        r.name = std::move(name);
        r.folder = folder;
        r.parentIndex = folders_.back();
        r.level = level();
        list_.push_back(std::move(r));
    }

    void addListClient(const QString& address, std::int32_t listIndex, std::int32_t lvl) {
        ClientRecord r;
        r.address = address;
        r.name = address;  // shares the text
        r.parentIndex = listIndex;
        r.level = lvl;
        list_.push_back(std::move(r));
    }

    void fail(const QString& piece, const QString& part = QString()) {
        QString m = t_[Text::ClientsParseError] + QStringLiteral("\r\n") + t_[Text::KeyLabel] +
                    QStringLiteral(": ") + piece;
        if (!part.isNull())
            m += QStringLiteral("\r\n") + t_[Text::SubstringLabel] + QStringLiteral(": ") + part;
        entryError_ = m;
    }

    void expandList() {
        const auto listIndex = static_cast<std::int32_t>(list_.size() - 1);
        const std::int32_t lvl = level() + 1;
        const std::string entries = QString::fromUtf8(text_).toUpper().toStdString();
        // The database's rules: empty items are skipped, every item is recorded as it comes,
        // and one range may not be wider than the limit.
        addr::ListRules rules;
        rules.skipEmptyItems = true;
        rules.judgeWholeListFirst = false;
        rules.maxRangeAddresses = limits_.maxRangeAddresses;
        const addr::ListOutcome outcome = addr::expandAddressList(
            entries, rules, [&](std::string_view item, std::span<const std::string> addresses) {
                if (!roomFor(addresses.size(), "list")) return false;
                if (addr::isRangeItem(item)) list_.reserve(list_.size() + addresses.size());
                for (const std::string& a : addresses) addListClient(utf8Text(a), listIndex, lvl);
                return true;
            });
        switch (outcome.status) {
            case addr::ListStatus::Ok:
            case addr::ListStatus::Stopped:  // roomFor() has said why
                return;
            case addr::ListStatus::BadRangeStart:
            case addr::ListStatus::BadRangeEnd:
                return fail(utf8Text(outcome.item), utf8Text(outcome.part));
            default:
                return fail(utf8Text(outcome.item));
        }
    }

    static QString utf8Text(std::string_view s) {
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }

    ClientsList& list_;
    const InterfaceTexts& t_;
    const ClientsLimits& limits_;
    XML_Parser parser_;
    QString limitError_;
    std::vector<Kind> open_;
    std::vector<std::int32_t> folders_;  // records of the open folders, root first
    std::string text_;                   // character data of the open key or list
    QString caption_;
    bool versionTooOld_ = false;
    QString entryError_;
};

void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char** attrs) {
    static_cast<Loader*>(user)->start(name, attrs);
}
void XMLCALL onEnd(void* user, const XML_Char*) { static_cast<Loader*>(user)->end(); }
void XMLCALL onText(void* user, const XML_Char* s, int len) {
    static_cast<Loader*>(user)->characters(s, len);
}

}  // namespace

fs::path dataFilePath(const QString& configured) {
    return tw::platform::fromConfigPath(configured.toStdString());
}

LoadResult LoadClientsDatabase(const fs::path& file, ClientsList& list, TreeSink* tree,
                               const InterfaceTexts& t, const ClientsLimits& limits) {
    if (tree) tree->ClearTree();
    list.clear();
    std::error_code ec;
    if (!fs::exists(file, ec)) return LoadResult{LoadResult::Status::NoFile, {}};
    const FileBytes f = readFileUpTo(file, limits.maxFileBytes);
    if (f.status == FileBytes::Status::TooLarge)
        return LoadResult{LoadResult::Status::Failed,
                          t[Text::ClientsParseError] + u' ' +
                              t[Text::ClientsFileTooLarge].arg(limits.maxFileBytes >> 20)};
    if (f.status != FileBytes::Status::Ok)
        return LoadResult{LoadResult::Status::Failed, t[Text::CantCreateClientsFile]};
    return LoadClientsDocument(f.bytes, list, tree, t, limits);
}

LoadResult LoadClientsDocument(std::string_view bytes, ClientsList& list, TreeSink* tree,
                               const InterfaceTexts& t, const ClientsLimits& limits) {
    list.clear();
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return LoadResult{LoadResult::Status::Failed, t[Text::CantCreateClientsFile]};
    Loader loader(list, t, limits, parser);
    XML_SetUserData(parser, &loader);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    QString message;
    constexpr std::size_t kChunk = 1 << 20;
    XML_Status status = XML_STATUS_OK;
    for (std::size_t at = 0; status == XML_STATUS_OK;) {
        const std::size_t n = std::min(kChunk, bytes.size() - at);
        const bool last = at + n == bytes.size();
        status = XML_Parse(parser, bytes.data() + at, static_cast<int>(n), last ? 1 : 0);
        at += n;
        if (last) break;
    }
    if (!loader.limitError().isEmpty()) {
        message = loader.limitError();
    } else if (status == XML_STATUS_ERROR) {
        message = t[Text::ClientsParseError] + u' ' +
                  QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser))) + u'\n' +
                  t[Text::LineLabel] + u' ' + QString::number(XML_GetCurrentLineNumber(parser)) +
                  QStringLiteral(", ") + t[Text::PositionLabel] + u' ' +
                  QString::number(XML_GetCurrentColumnNumber(parser));
    } else if (loader.versionTooOld()) {
        message = t[Text::ClientsVersionTooOld];
    } else {
        message = loader.entryError();
    }
    XML_ParserFree(parser);
    if (!message.isEmpty()) {
        list.clear();
        list.shrink_to_fit();
        return LoadResult{LoadResult::Status::Failed, message};
    }
    if (tree)
        for (const ClientRecord& r : list)
            tree->AddTreeItem(r.parentIndex < 0 ? t[Text::AllClients] : r.name, r.level);
    return LoadResult{};
}

bool convertOldClientsText(std::string_view bytes, XmlElement& root) {
    const std::string text = prefs::decodeText(bytes);
    std::string_view firstLine = std::string_view(text).substr(0, text.find_first_of("\r\n"));
    if (firstLine != ";Tellwick Clients v2") return false;

    prefs::PrefsFile old;
    old.parse(text);
    root = newClientsDocument();
    // The chain of open folders; only the last grows. One group deeper than the load accepts
    // is still made, so that the load names it; deeper ones are not opened, which bounds the
    // document's depth (it is written and freed by recursion).
    const std::size_t maxOpen = static_cast<std::size_t>(ClientsLimits{}.maxDepth) + 1;
    std::vector<XmlElement*> open{&root};
    std::size_t unopened = 0;  // "+" sections below the deepest group that was made
    const auto sections = old.groupNames();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const QString section = fromFileText(sections[i]);
        if (section.startsWith(u'+')) {
            if (open.size() > maxOpen) {
                ++unopened;
            } else {
                XmlElement& group = open.back()->addChild(QStringLiteral("group"));
                group.attributes.emplace_back(QStringLiteral("name"), section.mid(1));
                open.push_back(&group);
            }
        } else if (unopened > 0) {
            --unopened;
        } else if (open.size() > 1) {
            open.pop_back();
        }
        for (const prefs::Entry& e : old.entriesAt(i)) {
            XmlElement& key = open.back()->addChild(QStringLiteral("key"));
            key.attributes.emplace_back(QStringLiteral("name"), fromFileText(e.key));
            key.text = fromFileText(e.value).toUpper();
        }
    }
    return true;
}

bool ConvertOldClientsFile(QString& clientsPath) {
    const auto bytes = readWholeFile(dataFilePath(clientsPath), prefs::kMaxFileBytes);
    if (!bytes) return false;
    XmlElement root;
    if (!convertOldClientsText(*bytes, root)) return false;

    // Without an ".ini" ending the name gets ".xml" added, so the older file is never
    // overwritten by its conversion.
    if (clientsPath.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive))
        clientsPath = clientsPath.left(clientsPath.size() - 4) + QStringLiteral(".xml");
    else
        clientsPath += QStringLiteral(".xml");
    writeClientsDocument(dataFilePath(clientsPath), root);
    return true;
}

bool ClientsFileCreatable(const fs::path& file) {
    std::error_code ec;
    if (fs::exists(file, ec)) return true;
    // "x": never truncate a file that appeared meanwhile.
    std::FILE* f = std::fopen(file.c_str(), "wx");
    if (!f) return false;
    std::fclose(f);
    fs::remove(file, ec);
    return true;
}

ChildIndex::ChildIndex(const ClientsList& list) : first_(list.size() + 1, 0) {
    for (const ClientRecord& r : list)
        if (r.parentIndex >= 0) ++first_[static_cast<std::size_t>(r.parentIndex) + 1];
    for (std::size_t i = 1; i < first_.size(); ++i) first_[i] += first_[i - 1];
    items_.resize(static_cast<std::size_t>(first_.back()));
    std::vector<std::int32_t> fill(first_.begin(), first_.end() - 1);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::int32_t p = list[i].parentIndex;
        if (p >= 0)
            items_[static_cast<std::size_t>(fill[static_cast<std::size_t>(p)]++)] =
                static_cast<std::int32_t>(i);
    }
}

std::span<const std::int32_t> ChildIndex::children(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) + 1 >= first_.size()) return {};
    const auto b = static_cast<std::size_t>(first_[static_cast<std::size_t>(index)]);
    const auto e = static_cast<std::size_t>(first_[static_cast<std::size_t>(index) + 1]);
    return std::span<const std::int32_t>(items_).subspan(b, e - b);
}

}  // namespace tw::server
