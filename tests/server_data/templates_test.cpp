#include "server/data/templates.h"

#include <gtest/gtest.h>

#include "recorder.h"
#include "tests/support/support.h"

namespace {

using namespace tw::server;
using tw::test::readFile;
using tw::test::RecordingNotifier;
using tw::test::TempDir;
using tw::test::writeFile;

const std::string kBom = "\xEF\xBB\xBF";

struct Fixture {
    TempDir dir;
    std::filesystem::path file = dir / "templates.ini";
    TemplatesList list;
    InterfaceTexts texts;
    RecordingNotifier boxes;

    SaveTemplateResult save(const char* name, const char* text) {
        return SaveTemplate(file, list, QString::fromUtf8(name), QString::fromUtf8(text), texts,
                            &boxes);
    }
};

TEST(Templates, firstSaveCreatesFileAndLinesSurviveRestart) {
    Fixture f;
    EXPECT_TRUE(LoadTemplates(f.file).empty());
    const auto r = f.save("Lunch", "Line one\r\nLine two\r\nLine three");
    EXPECT_TRUE(r.saved);
    EXPECT_TRUE(r.added);
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(readFile(f.file), kBom + "\r\n[Lunch]\r\n1 = Line one|Line two|Line three\r\n");

    const TemplatesList reloaded = LoadTemplates(f.file);
    ASSERT_EQ(reloaded.size(), 1u);
    EXPECT_EQ(reloaded[0].name, QStringLiteral("Lunch"));
    EXPECT_EQ(reloaded[0].text, QStringLiteral("Line one\r\nLine two\r\nLine three"));
    EXPECT_TRUE(f.boxes.boxes.empty());
}

TEST(Templates, savingAnExistingNameReplacesItsText) {
    Fixture f;
    f.save("A", "first");
    f.save("B", "second");
    const auto r = f.save("A", "changed");
    EXPECT_FALSE(r.added);
    EXPECT_EQ(r.index, 0);
    ASSERT_EQ(f.list.size(), 2u);
    EXPECT_EQ(f.list[0].text, QStringLiteral("changed"));
    EXPECT_EQ(readFile(f.file), kBom + "\r\n[A]\r\n1 = changed\r\n\r\n[B]\r\n1 = second\r\n");
}

TEST(Templates, fileRulesOnLoad) {
    Fixture f;
    // "|" is a line break; the last key of a group wins; a group without keys is empty.
    writeFile(f.file, kBom +
                          "\r\n[Pipe]\r\n1 = a|b\r\n\r\n[Two]\r\n1 = old\r\n2 = new\r\n"
                          "[Empty]\r\n");
    const TemplatesList l = LoadTemplates(f.file);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].text, QStringLiteral("a\r\nb"));
    EXPECT_EQ(l[1].text, QStringLiteral("new"));
    EXPECT_EQ(l[2].name, QStringLiteral("Empty"));
    EXPECT_TRUE(l[2].text.isEmpty());
}

TEST(Templates, lineBreaksOtherThanCrLfDoNotBreakTheFile) {
    Fixture f;
    f.save("Mixed", "a\nb\rc");
    f.save("Next", "x");
    const TemplatesList l = LoadTemplates(f.file);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].text, QStringLiteral("a\r\nb\r\nc"));
    EXPECT_EQ(l[1].text, QStringLiteral("x"));
}

// A file from an older editor in Windows-1251: the name is not UTF-8, but saving and removing
// the template it became work on its own group instead of adding a second one.
TEST(Templates, nameInAnotherEncodingUpdatesAndRemovesItsOwnGroup) {
    Fixture f;
    writeFile(f.file, kBom + "\r\n[\xCE\xE1\xE5\xE4]\r\n1 = old\r\n\r\n[Other]\r\n1 = o\r\n");
    f.list = LoadTemplates(f.file);
    ASSERT_EQ(f.list.size(), 2u);
    const QString name = f.list[0].name;
    const auto r = SaveTemplate(f.file, f.list, name, QStringLiteral("new"), f.texts, &f.boxes);
    EXPECT_TRUE(r.saved);
    EXPECT_FALSE(r.added);
    EXPECT_EQ(readFile(f.file),
              kBom + "\r\n[\xCE\xE1\xE5\xE4]\r\n1 = new\r\n\r\n[Other]\r\n1 = o\r\n");
    ASSERT_TRUE(RemoveTemplate(f.file, f.list, name, 0));
    EXPECT_EQ(readFile(f.file), kBom + "\r\n[Other]\r\n1 = o\r\n");
    EXPECT_EQ(LoadTemplates(f.file).size(), 1u);
}

TEST(Templates, oversizedNamesAndTooManyTemplatesAreNotListedAndLongTextsAreCut) {
    Fixture f;
    const std::string longName(kMaxTemplateNameChars + 1, 'N');
    std::string longText(kMaxTemplateTextChars - 1, 'x');
    longText += "|tail";  // the cut would fall between CR and LF
    writeFile(f.file,
              kBom + "\r\n[" + longName + "]\r\n1 = a\r\n\r\n[Long]\r\n1 = " + longText + "\r\n");
    const TemplatesList list = LoadTemplates(f.file);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, QStringLiteral("Long"));
    EXPECT_EQ(list[0].text, QString(kMaxTemplateTextChars - 1, u'x'));

    std::string many = kBom + "\r\n";
    for (std::size_t i = 0; i <= kMaxTemplates; ++i) many += "[T" + std::to_string(i) + "]\r\n";
    writeFile(f.file, many);
    const TemplatesList first = LoadTemplates(f.file);
    ASSERT_EQ(first.size(), kMaxTemplates);
    EXPECT_EQ(first.back().name, QString::fromStdString("T" + std::to_string(kMaxTemplates - 1)));
}

TEST(Templates, namesTheFileCannotHoldAreRefused) {
    for (const char* name : {"", "a]b", ";comment", "two\r\nlines", "two\nlines"}) {
        Fixture f;
        f.texts.setLanguage(QStringLiteral("EN"), 47128, nullptr);
        const auto r = f.save(name, "text");
        EXPECT_FALSE(r.saved) << name;
        EXPECT_TRUE(f.list.empty()) << name;
        EXPECT_FALSE(std::filesystem::exists(f.file)) << name;
        ASSERT_EQ(f.boxes.boxes.size(), 1u) << name;
        EXPECT_EQ(f.boxes.boxes[0].title, QStringLiteral("Error"));
        EXPECT_EQ(f.boxes.boxes[0].text, QStringLiteral("Can't save template!"));
    }
}

TEST(Templates, unwritableFileShowsBoxAndKeepsList) {
    Fixture f;
    std::filesystem::create_directory(f.file);
    const auto r = f.save("A", "t");
    EXPECT_FALSE(r.saved);
    EXPECT_TRUE(f.list.empty());
    ASSERT_EQ(f.boxes.boxes.size(), 1u);
    EXPECT_EQ(f.boxes.boxes[0].text, QStringLiteral("Не удалось сохранить шаблон!"));
    EXPECT_EQ(f.boxes.boxes[0].title, QStringLiteral("Ошибка"));
}

TEST(Templates, remove) {
    Fixture f;
    f.save("Only", "t");
    EXPECT_FALSE(RemoveTemplate(f.file, f.list, QStringLiteral("Only"), 5));  // no such item
    EXPECT_TRUE(RemoveTemplate(f.file, f.list, QStringLiteral("Only"), 0));
    EXPECT_TRUE(f.list.empty());
    EXPECT_EQ(readFile(f.file), kBom + "\r\n");
    EXPECT_TRUE(LoadTemplates(f.file).empty());

    // Without a file nothing changes.
    Fixture g;
    g.list.push_back(TemplateRecord{QStringLiteral("X"), QStringLiteral("t")});
    EXPECT_FALSE(RemoveTemplate(g.file, g.list, QStringLiteral("X"), 0));
    EXPECT_EQ(g.list.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(g.file));
}

}  // namespace
