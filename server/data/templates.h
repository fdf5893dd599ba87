#pragma once
// Message templates kept in templates.ini: one group per template, named by the template,
// with the key "1" holding the text, line breaks written as "|".
#include <QString>
#include <cstddef>
#include <filesystem>
#include <vector>

#include "server/data/texts.h"

namespace tw::prefs {
class PrefsFile;
}

namespace tw::server {

struct TemplateRecord {
    QString name;  // also the item's text in the templates list of the window
    QString text;  // lines separated by CR LF
};

// Same order as the items of the window's templates list.
using TemplatesList = std::vector<TemplateRecord>;

// A template name longer than this (the program itself makes names of at most 500) is not
// listed: the list would spend minutes measuring it. Its group stays in the file.
inline constexpr qsizetype kMaxTemplateNameChars = 1000;
// No more templates than this are listed; a file with millions of groups would keep the
// window from opening for half a minute. The groups beyond stay in the file.
inline constexpr std::size_t kMaxTemplates = 10000;
// Texts are cut to this when read; the editor takes no more than 500 characters anyway.
inline constexpr qsizetype kMaxTemplateTextChars = 100000;

// The templates of the file in file order; a missing or unreadable file gives none, and so
// does one larger than prefs::kMaxFileBytes (SaveTemplate then refuses to replace it).
TemplatesList LoadTemplates(const std::filesystem::path& file);

// The same for a file already in memory.
TemplatesList templatesOf(const prefs::PrefsFile& file);
// Sets the group of `name` to hold `text` as SaveTemplate writes it (the name must fit the
// file: templateNameFits).
void putTemplate(prefs::PrefsFile& file, const QString& name, const QString& text);
bool templateNameFits(const QString& name);

struct SaveTemplateResult {
    bool saved = false;
    bool added = false;  // a new record (and list item) was appended at the end
    int index = -1;      // the record that holds the template
};

// Adds the template or replaces the text of the one of that name, in the file and in `list`.
// A name that the file cannot hold (empty, containing "]" or a line break, or beginning with
// ";") and a file that cannot be written show "Can't save template!" through `notifier`, and
// leave file and list unchanged.
SaveTemplateResult SaveTemplate(const std::filesystem::path& file, TemplatesList& list,
                                const QString& name, const QString& text,
                                const InterfaceTexts& texts, Notifier* notifier);

// Removes the template's group from the file and record `index` from the list. On any
// failure nothing changes and nothing is shown; the result tells whether it was removed.
bool RemoveTemplate(const std::filesystem::path& file, TemplatesList& list, const QString& name,
                    int index);

}  // namespace tw::server
