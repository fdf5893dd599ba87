#include "server/data/templates.h"

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

bool nameFitsFile(const QString& name) {
    return !name.isEmpty() && !name.startsWith(u';') && !name.contains(u']') &&
           !name.contains(u'\n') && !name.contains(u'\r');
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
    return QString::fromStdString(value).replace(u'|', QStringLiteral("\r\n"));
}

}  // namespace

TemplatesList LoadTemplates(const fs::path& file) {
    TemplatesList list;
    prefs::PrefsFile p;
    if (!p.load(file)) return list;
    const auto groups = p.groupNames();
    for (std::size_t i = 0; i < groups.size(); ++i) {
        TemplateRecord r{QString::fromStdString(groups[i]), QString()};
        for (const prefs::Entry& e : p.entriesAt(i)) r.text = decodeText(e.value);
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
    if (!nameFitsFile(name)) return refuse();

    prefs::PrefsFile p;
    std::error_code ec;
    // Only a missing file starts afresh; one that exists but cannot be read is not replaced.
    if (!p.load(file) && fs::exists(file, ec)) return refuse();

    const std::string group = name.toStdString();
    const bool existed = p.hasGroup(group);
    p.setString(group, kTextKey, encodeText(text).toStdString());
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
    p.removeGroup(name.toStdString());
    if (!p.save(file, templatesStyle())) return false;
    list.erase(list.begin() + index);
    return true;
}

}  // namespace tw::server
