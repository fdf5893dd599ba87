#include "server/data/templates.h"

#include <optional>
#include <system_error>

#include "common/files.h"
#include "common/prefs.h"

namespace tw::server {

namespace fs = std::filesystem;

namespace {

constexpr char kTextKey[] = "1";

prefs::WriteStyle templatesStyle() {
    prefs::WriteStyle style;
    style.byteOrderMark = true;
    style.blankLineAfterMark = true;
    return style;
}

// Any line break, not only CR LF, would split the entry over lines and lose the rest of the
// text, so all of them become "|".
QString encodeText(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
    s.replace(u'\r', u'|');
    s.replace(u'\n', u'|');
    return s;
}

QString decodeText(const std::string& value) {
    return fromFileText(value).replace(u'|', QStringLiteral("\r\n"));
}

// Cut where no line break or character is split in two, so the text saves as it reads.
QString cutText(QString text) {
    if (text.size() <= kMaxTemplateTextChars) return text;
    text.truncate(kMaxTemplateTextChars);
    if (text.back() == u'\r' || text.back().isHighSurrogate()) text.chop(1);
    return text;
}

}  // namespace

bool templateNameFits(const QString& name) {
    return !name.isEmpty() && !name.startsWith(u';') && !name.contains(u']') &&
           !name.contains(u'\n') && !name.contains(u'\r');
}

namespace {

// The group of the file that holds the template `name`, as the file spells it. A file written
// in another encoding (an older one in Windows-1251, say) spells names with bytes that are not
// UTF-8; the template read from it must still update and remove its own group rather than add
// a second one.
std::optional<std::string> groupOf(const prefs::PrefsFile& p, const QString& name) {
    for (const std::string& group : p.groupNames())
        if (fromFileText(group) == name) return group;
    return std::nullopt;
}

}  // namespace

void putTemplate(prefs::PrefsFile& p, const QString& name, const QString& text) {
    p.setString(groupOf(p, name).value_or(toFileText(name)), kTextKey,
                toFileText(encodeText(text)));
}

TemplatesList LoadTemplates(const fs::path& file) {
    prefs::PrefsFile p;
    if (!p.load(file)) return {};
    return templatesOf(p);
}

TemplatesList templatesOf(const prefs::PrefsFile& p) {
    TemplatesList list;
    const auto groups = p.groupNames();
    for (std::size_t i = 0; i < groups.size() && list.size() < kMaxTemplates; ++i) {
        TemplateRecord r{fromFileText(groups[i]), QString()};
        if (r.name.size() > kMaxTemplateNameChars) continue;
        const auto entries = p.entriesAt(i);
        if (!entries.empty()) {
            // No more is decoded than can reach the cut: a byte gives at least half a
            // UTF-16 unit.
            const std::string& value = entries.back().value;
            const std::size_t enough = 4 * static_cast<std::size_t>(kMaxTemplateTextChars);
            r.text = cutText(decodeText(value.size() > enough ? value.substr(0, enough) : value));
        }
        list.push_back(std::move(r));
    }
    return list;
}

SaveTemplateResult SaveTemplate(const fs::path& file, TemplatesList& list, const QString& name,
                                const QString& text, const InterfaceTexts& t, Notifier* notifier) {
    const auto refuse = [&] {
        if (notifier)
            notifier->messageBox(t[Text::ErrorTitle], t[Text::CantSaveTemplate],
                                 tw::platform::BoxIcon::Error);
        return SaveTemplateResult{};
    };
    if (!templateNameFits(name)) return refuse();

    prefs::PrefsFile p;
    std::error_code ec;
    // Only a missing file starts afresh; one that exists but cannot be read is not replaced.
    if (!p.load(file) && fs::exists(file, ec)) return refuse();

    const bool existed = groupOf(p, name).has_value();
    putTemplate(p, name, text);
    if (!p.save(file, templatesStyle())) return refuse();

    SaveTemplateResult result{true, false, -1};
    if (existed) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].name == name) {
                result.index = static_cast<int>(i);
                break;
            }
        }
    }
    // A group that was added to the file by hand while the program ran has no record yet.
    if (result.index < 0) {
        list.push_back(TemplateRecord{});
        result.index = static_cast<int>(list.size() - 1);
        result.added = true;
    }
    list[static_cast<std::size_t>(result.index)] = TemplateRecord{name, text};
    return result;
}

bool RemoveTemplate(const fs::path& file, TemplatesList& list, const QString& name, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return false;
    prefs::PrefsFile p;
    if (!p.load(file)) return false;
    if (const auto group = groupOf(p, name)) p.removeGroup(*group);
    if (!p.save(file, templatesStyle())) return false;
    list.erase(list.begin() + index);
    return true;
}

}  // namespace tw::server
