#include "common/prefs.h"

#include <gtest/gtest.h>

#include "common/files.h"
#include "tests/support/support.h"

namespace {

using tw::prefs::PrefsFile;
using tw::prefs::WriteStyle;
using tw::test::readFile;
using tw::test::TempDir;
using tw::test::writeFile;

const std::string kBom = "\xEF\xBB\xBF";

TEST(PrefsRead, groupsKeysAndBlanksAsWritten) {
    PrefsFile p;
    p.parse(kBom +
            "Top = 1\n"
            "; a comment = not an entry\r\n"
            "[Common]\r\n"
            "  Language   =   EN  \r\n"
            "\tPath = .\\a b.ini\n"
            "junk line without equals\r\n"
            "= no key\r\n"
            "[Net]\n"
            "Port=47128\n"
            "[Common]\n"
            "Language = RU\n");
    EXPECT_EQ(p.groupNames(), (std::vector<std::string>{"Common", "Net", "Common"}));
    EXPECT_EQ(p.getString("", "Top", "x"), "1");
    EXPECT_EQ(p.getString("Common", "Language", "x"), "EN");  // the first group of the name
    EXPECT_EQ(p.getString("Common", "Path", "x"), ".\\a b.ini");
    EXPECT_EQ(p.getString("Common", "language", "x"), "x");  // names compare exactly
    EXPECT_EQ(p.getInt("Net", "Port", 0), 47128);
    EXPECT_EQ(p.entriesAt(0).size(), 2u);
    EXPECT_EQ(p.entriesAt(2).at(0).value, "RU");
    EXPECT_FALSE(p.find("Common", "; a comment").has_value());
}

TEST(PrefsRead, integersAsTheFilesMeanThem) {
    const struct {
        const char* text;
        std::int64_t value;
    } cases[] = {
        {"12", 12},
        {"-5", -5},
        {"+7", 7},
        {"abc", 0},
        {"", 0},
        {"12abc", 12},
        {" 3 ", 3},
        {"-", 0},
        {"99999999999999999999", INT64_MAX},
        {"-99999999999999999999", INT64_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(tw::prefs::parseInt(c.text), c.value) << c.text;
    PrefsFile p;
    p.parse("[G]\nEmpty =\n");
    EXPECT_EQ(p.getInt("G", "Empty", 9), 0);    // present but not a number
    EXPECT_EQ(p.getInt("G", "Missing", 9), 9);  // missing: the fallback
}

TEST(PrefsRead, utf16FileIsConverted) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : std::u16string(u"[Группа]\r\nKey = Значение\r\n")) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    PrefsFile p;
    p.parse(bytes);
    EXPECT_EQ(p.getString("Группа", "Key", ""), "Значение");
}

TEST(PrefsWrite, keepsUnknownLinesAndNormalisesSpacing) {
    PrefsFile p;
    p.parse(kBom +
            "\r\n; header comment\n\n\n"
            "[A]\n"
            "Known = 1\n"
            "Other=keep  me\n"
            "; comment at the end of A\n"
            "\n\n\n"
            "[B]\n"
            "X = 1\n");
    p.setInt("A", "Known", 2);
    p.setString("A", "New", "v");
    p.setString("C", "Z", "3");
    const WriteStyle style{true, false};
    EXPECT_EQ(p.serialize(style), kBom +
                                      "; header comment\r\n"
                                      "\r\n"
                                      "[A]\r\n"
                                      "Known = 2\r\n"
                                      "Other=keep  me\r\n"
                                      "New = v\r\n"
                                      "; comment at the end of A\r\n"
                                      "\r\n"
                                      "[B]\r\n"
                                      "X = 1\r\n"
                                      "\r\n"
                                      "[C]\r\n"
                                      "Z = 3\r\n");
}

TEST(PrefsWrite, byteOrderMarkStyles) {
    PrefsFile p;
    p.setString("G", "1", "t");
    EXPECT_EQ(p.serialize({true, false}), kBom + "[G]\r\n1 = t\r\n");
    EXPECT_EQ(p.serialize({true, true}), kBom + "\r\n[G]\r\n1 = t\r\n");
    EXPECT_EQ(p.serialize({false, false}), "[G]\r\n1 = t\r\n");
    p.removeGroup("G");
    EXPECT_EQ(p.serialize({true, true}), kBom + "\r\n");
}

// What a damaged file becomes when it is rewritten reads back to what was read from it.
TEST(PrefsWrite, damagedLinesAreWrittenSoTheyReadBackTheSame) {
    const struct {
        const char* what;
        const char* in;
        const char* out;
    } cases[] = {
        // A header cut by a truncated file: written whole, so the ports written below it
        // stay in their group for every reader.
        {"cut header", "[Common]\nA = 1\n[Network",
         "[Common]\r\nA = 1\r\n\r\n[Network]\r\nPortListen = 5\r\n"},
        {"cut header with blanks", "[Network  \n", "[Network]\r\nPortListen = 5\r\n"},
        // A lone CR ends a line as it would for other readers, instead of hiding a header.
        {"lone CR", "[X]\rk = 1\r[Network]\rPortListen = 1\r",
         "[X]\r\nk = 1\r\n\r\n[Network]\r\nPortListen = 5\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PrefsFile p;
        p.parse(c.in);
        p.setInt("Network", "PortListen", 5);
        const std::string written = p.serialize({false, false});
        EXPECT_EQ(written, c.out);
        PrefsFile back;
        back.parse(written);
        EXPECT_EQ(back.getInt("Network", "PortListen", 0), 5);
        EXPECT_EQ(back.groupNames(), p.groupNames());
    }
    // A value with a line break cannot split its entry.
    PrefsFile p;
    p.setString("G", "k", "a\r\n[Evil]\nb");
    EXPECT_EQ(p.serialize({false, false}), "[G]\r\nk = a  [Evil] b\r\n");
}

TEST(PrefsWrite, removeKeyAndGroup) {
    PrefsFile p;
    p.parse("[A]\nk = 1\nk = 2\nj = 3\n[B]\nx = 1\n[A]\nk = 9\n");
    EXPECT_TRUE(p.removeKey("A", "k"));
    EXPECT_FALSE(p.removeKey("A", "k"));
    EXPECT_FALSE(p.removeKey("Nope", "k"));
    EXPECT_TRUE(p.removeGroup("B"));
    EXPECT_FALSE(p.removeGroup("B"));
    EXPECT_EQ(p.serialize({false, false}), "[A]\r\nj = 3\r\n\r\n[A]\r\nk = 9\r\n");
}

TEST(PrefsFileIo, saveAndLoadRoundTrip) {
    TempDir dir;
    PrefsFile p;
    EXPECT_FALSE(p.load(dir / "missing.ini"));
    p.setString("Groupe", "Clé", "värde = with equals");
    ASSERT_TRUE(p.save(dir / "a.ini", {}));
    PrefsFile q;
    ASSERT_TRUE(q.load(dir / "a.ini"));
    EXPECT_EQ(q.getString("Groupe", "Clé", ""), "värde = with equals");
}

TEST(PrefsFileIo, failedWriteLeavesOldFileAndNoTemporary) {
    TempDir dir;
    // A directory in the way makes the final rename fail after the data was written.
    std::filesystem::create_directory(dir / "busy.ini");
    writeFile(dir / "busy.ini" / "inside", "x");
    EXPECT_FALSE(tw::writeFileAtomically(dir / "busy.ini", "new"));
    EXPECT_EQ(readFile(dir / "busy.ini" / "inside"), "x");
    // No folder to write into at all.
    EXPECT_FALSE(tw::writeFileAtomically(dir / "no" / "such.ini", "new"));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(PrefsFileIo, oversizedFileIsNotRead) {
    TempDir dir;
    writeFile(dir / "big.ini", "[G]\r\n1 = x\r\n");
    std::filesystem::resize_file(dir / "big.ini", tw::prefs::kMaxFileBytes + 1);  // sparse
    PrefsFile p;
    EXPECT_FALSE(p.load(dir / "big.ini"));
    EXPECT_TRUE(p.groupNames().empty());
    std::filesystem::resize_file(dir / "big.ini", tw::prefs::kMaxFileBytes);
    EXPECT_TRUE(p.load(dir / "big.ini"));
    EXPECT_EQ(p.getString("G", "1", ""), "x");
}

TEST(PrefsFileIo, replacingThroughSymlinkKeepsTheLink) {
    TempDir dir;
    writeFile(dir / "real.ini", "old");
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(tw::writeFileAtomically(dir / "link.ini", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(readFile(dir / "real.ini"), "new");
}

}  // namespace
