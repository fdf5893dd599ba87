#include "common/prefs.h"

#include <algorithm>
#include <limits>

#include "common/files.h"
#include "common/text.h"

namespace tw::prefs {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isBlankLine(std::string_view raw) { return trim(raw).empty(); }

}  // namespace

// A header kept as read unless it lost its "]" (a file cut in the middle of the line): then it
// is written whole, so that no reader takes the entries below it for those of the group before.
std::string PrefsFile::headerLine(const Group& g) {
    if (g.headerRaw.find(']') != std::string::npos) return g.headerRaw;
    return "[" + g.name + "]";
}

std::string decodeText(std::string_view bytes) {
    const auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    const bool le = starts("\xFF\xFE");
    const bool be = starts("\xFE\xFF");
    if (!le && !be) return std::string(bytes);
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
        units.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    return utf16ToUtf8(units);
}

std::int64_t parseInt(std::string_view text) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Accumulate as a negative number so that the minimum value fits.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t acc = 0;
    bool clamped = false;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        const int d = c - '0';
        if (acc < (kMin + d) / 10) {
            clamped = true;
            break;
        }
        acc = acc * 10 - d;
    }
    if (negative) return clamped ? kMin : acc;
    if (clamped || acc == kMin) return std::numeric_limits<std::int64_t>::max();
    return -acc;
}

bool PrefsFile::load(const std::filesystem::path& path) {
    const auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) {
        groups_.assign(1, Group{});
        return false;
    }
    parse(*bytes);
    return true;
}

void PrefsFile::parse(std::string_view bytes) {
    groups_.assign(1, Group{});
    const std::string text = decodeText(bytes);
    std::string_view rest = text;
    while (!rest.empty()) {
        // A lone CR ends a line too: kept inside a line it would be written back before the
        // CR LF and read as a line end by other readers.
        const std::size_t eol = rest.find_first_of("\r\n");
        std::string_view raw = rest.substr(0, eol);
        if (eol == std::string_view::npos) {
            rest = {};
        } else {
            const bool crlf = rest[eol] == '\r' && eol + 1 < rest.size() && rest[eol + 1] == '\n';
            rest.remove_prefix(eol + (crlf ? 2 : 1));
        }

        const std::string_view t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            std::string_view name = t.substr(1);
            name = name.substr(0, name.find(']'));
            groups_.push_back(Group{std::string(name), std::string(raw), {}});
            continue;
        }
        Line line{std::string(raw), {}, {}, false};
        if (!t.empty() && t.front() != ';') {
            const std::size_t eq = t.find('=');
            if (eq != std::string_view::npos && !trim(t.substr(0, eq)).empty()) {
                line.key = std::string(trim(t.substr(0, eq)));
                line.value = std::string(trim(t.substr(eq + 1)));
                line.isEntry = true;
            }
        }
        groups_.back().lines.push_back(std::move(line));
    }
}

std::vector<std::string> PrefsFile::groupNames() const {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < groups_.size(); ++i) names.push_back(groups_[i].name);
    return names;
}

std::vector<Entry> PrefsFile::entriesAt(std::size_t groupIndex) const {
    std::vector<Entry> out;
    if (groupIndex + 1 >= groups_.size()) return out;
    for (const Line& l : groups_[groupIndex + 1].lines)
        if (l.isEntry) out.push_back(Entry{l.key, l.value});
    return out;
}

std::vector<Entry> PrefsFile::entries(std::string_view group) const {
    std::vector<Entry> out;
    if (const Group* g = findGroup(group))
        for (const Line& l : g->lines)
            if (l.isEntry) out.push_back(Entry{l.key, l.value});
    return out;
}

bool PrefsFile::hasGroup(std::string_view group) const {
    return !group.empty() && findGroup(group) != nullptr;
}

PrefsFile::Group* PrefsFile::findGroup(std::string_view name) {
    if (name.empty()) return &groups_[0];
    for (std::size_t i = 1; i < groups_.size(); ++i)
        if (groups_[i].name == name) return &groups_[i];
    return nullptr;
}

const PrefsFile::Group* PrefsFile::findGroup(std::string_view name) const {
    return const_cast<PrefsFile*>(this)->findGroup(name);
}

std::optional<std::string> PrefsFile::find(std::string_view group, std::string_view key) const {
    if (const Group* g = findGroup(group))
        for (const Line& l : g->lines)
            if (l.isEntry && l.key == key) return l.value;
    return std::nullopt;
}

std::string PrefsFile::getString(std::string_view group, std::string_view key,
                                 std::string_view fallback) const {
    auto v = find(group, key);
    return v ? *v : std::string(fallback);
}

std::int64_t PrefsFile::getInt(std::string_view group, std::string_view key,
                               std::int64_t fallback) const {
    auto v = find(group, key);
    return v ? parseInt(*v) : fallback;
}

void PrefsFile::setString(std::string_view group, std::string_view key, std::string_view rawValue) {
    std::string value(rawValue);
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    Group* g = findGroup(group);
    if (!g) {
        groups_.push_back(Group{std::string(group), "[" + std::string(group) + "]", {}});
        g = &groups_.back();
    }
    Line line{std::string(key) + " = " + std::string(value), std::string(key), std::string(value),
              true};
    std::size_t afterLastEntry = 0;
    for (std::size_t i = 0; i < g->lines.size(); ++i) {
        if (!g->lines[i].isEntry) continue;
        if (g->lines[i].key == key) {
            g->lines[i] = std::move(line);
            return;
        }
        afterLastEntry = i + 1;
    }
    g->lines.insert(g->lines.begin() + static_cast<std::ptrdiff_t>(afterLastEntry),
                    std::move(line));
}

void PrefsFile::setInt(std::string_view group, std::string_view key, std::int64_t value) {
    setString(group, key, std::to_string(value));
}

bool PrefsFile::removeKey(std::string_view group, std::string_view key) {
    Group* g = findGroup(group);
    if (!g) return false;
    const auto n =
        std::erase_if(g->lines, [&](const Line& l) { return l.isEntry && l.key == key; });
    return n > 0;
}

bool PrefsFile::removeGroup(std::string_view group) {
    if (group.empty()) return false;
    for (std::size_t i = 1; i < groups_.size(); ++i) {
        if (groups_[i].name == group) {
            groups_.erase(groups_.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

std::string PrefsFile::serialize(const WriteStyle& style) const {
    std::string out;
    if (style.byteOrderMark) out += "\xEF\xBB\xBF";
    if (style.blankLineAfterMark) out += "\r\n";
    bool first = true;
    for (const Group& g : groups_) {
        // Blank lines at the edges of a block give way to the single separator.
        std::size_t begin = 0, end = g.lines.size();
        while (begin < end && isBlankLine(g.lines[begin].raw)) ++begin;
        while (end > begin && isBlankLine(g.lines[end - 1].raw)) --end;
        const bool hasHeader = &g != &groups_[0];
        if (!hasHeader && begin == end) continue;
        if (!first) out += "\r\n";
        first = false;
        if (hasHeader) out += headerLine(g) + "\r\n";
        for (std::size_t i = begin; i < end; ++i) out += g.lines[i].raw + "\r\n";
    }
    return out;
}

bool PrefsFile::save(const std::filesystem::path& path, const WriteStyle& style) const {
    return writeFileAtomically(path, serialize(style));
}

}  // namespace tw::prefs
