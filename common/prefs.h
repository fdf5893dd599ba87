#pragma once
// Preferences files: UTF-8 text with group headers "[name]", entries "key = value" and
// comment lines beginning with ";". Used for the server's settings and templates, the
// client's settings and the older clients list.
//
// Reading ignores blanks around keys and values, accepts LF, CR LF or CR line ends and a
// byte-order mark (UTF-8, or UTF-16 which is converted). A line that begins with "[" is a
// group header named by the text up to "]" (or to the end of the line when a cut file lost
// the "]"). Entries before the first header belong to the group with the empty name. Group
// and key names are compared exactly.
//
// Rewriting keeps every line it was not asked to change (comments, unknown lines, keys of
// other programs) in place; it writes CR LF line ends and exactly one empty line between
// groups, completes a header that lost its "]", and replaces the file atomically. Whatever
// was read, the text written reads back to the same groups and entries.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::prefs {

struct Entry {
    std::string key;
    std::string value;
};

// Larger files are not read: every file of this kind is a few kilobytes, and one of hundreds
// of megabytes would stall the program that reads it.
inline constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;

struct WriteStyle {
    bool byteOrderMark = true;        // the file begins with EF BB BF
    bool blankLineAfterMark = false;  // one empty line between the mark and the first group
};

// Integer value of a text as the preferences files read it: blanks, an optional sign and
// decimal digits; anything after the digits is ignored; no digits at all reads as 0. Values
// beyond the 64-bit range are clamped.
std::int64_t parseInt(std::string_view text);

// Text of a file as UTF-8 without its byte-order mark: a UTF-16 mark (either byte order)
// converts the text, anything else is taken as UTF-8.
std::string decodeText(std::string_view bytes);

class PrefsFile {
public:
    // Reads a file; false (and an empty document) when it cannot be read or is larger than
    // kMaxFileBytes.
    bool load(const std::filesystem::path& path);
    // Parses text already in memory (UTF-8, an optional byte-order mark).
    void parse(std::string_view text);

    // Groups with a header, in file order; a name that occurs twice is listed twice.
    std::vector<std::string> groupNames() const;
    // Entries of the n-th group of groupNames(), in file order.
    std::vector<Entry> entriesAt(std::size_t groupIndex) const;
    // Entries of the first group of that name ("" = before the first header).
    std::vector<Entry> entries(std::string_view group) const;
    bool hasGroup(std::string_view group) const;

    // Value of the first entry `key` in the first group `group`.
    std::optional<std::string> find(std::string_view group, std::string_view key) const;
    std::string getString(std::string_view group, std::string_view key,
                          std::string_view fallback) const;
    // A missing key gives `fallback`; a present one is read by parseInt.
    std::int64_t getInt(std::string_view group, std::string_view key, std::int64_t fallback) const;

    // Changes the first entry `key` of the first group `group` in place; a missing key goes
    // after the group's last entry, a missing group to the end of the file. A line break in
    // the value would split the entry, so each CR or LF in it is written as a blank.
    void setString(std::string_view group, std::string_view key, std::string_view value);
    void setInt(std::string_view group, std::string_view key, std::int64_t value);
    // Removes every entry `key` of the group; false when there was none.
    bool removeKey(std::string_view group, std::string_view key);
    // Removes the first group of that name with all its lines; false when there was none.
    bool removeGroup(std::string_view group);

    std::string serialize(const WriteStyle& style) const;
    bool save(const std::filesystem::path& path, const WriteStyle& style) const;

private:
    struct Line {
        std::string raw;  // as read, without its line end; rebuilt when the entry is set
        std::string key;
        std::string value;
        bool isEntry = false;
    };
    struct Group {
        std::string name;
        std::string headerRaw;  // empty for the lines before the first header
        std::vector<Line> lines;
    };

    static std::string headerLine(const Group& g);
    Group* findGroup(std::string_view name);
    const Group* findGroup(std::string_view name) const;

    std::vector<Group> groups_{Group{}};  // groups_[0]: lines before the first header
};

}  // namespace tw::prefs
