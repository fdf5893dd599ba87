#include "server/data/clients.h"

#include <gtest/gtest.h>

#include "recorder.h"
#include "server/data/clients_xml.h"
#include "tests/support/support.h"

namespace {

using namespace tw::server;
using tw::test::readFile;
using tw::test::RecordingTree;
using tw::test::TempDir;
using tw::test::TreeItem;
using tw::test::writeFile;

QString q(const char* s) { return QString::fromUtf8(s); }

std::string doc(const std::string& body, const std::string& rootAttrs = " config=\"3.1\"") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root" + rootAttrs + ">\n" + body +
           "</root>\n";
}

struct Fixture {
    TempDir dir;
    std::filesystem::path file = dir / "clients.xml";
    ClientsList list;
    RecordingTree tree;
    InterfaceTexts texts;

    explicit Fixture(const char* language = "EN") {
        texts.setLanguage(q(language), 47128, nullptr);
    }
    LoadResult load(const std::string& content) {
        writeFile(file, content);
        return LoadClientsDatabase(file, list, &tree, texts);
    }
    std::vector<QString> addresses() const {
        std::vector<QString> out;
        for (const ClientRecord& r : list)
            if (!r.folder) out.push_back(r.address);
        return out;
    }
};

TEST(ClientsDatabase, treeOrderParentsLevelsAndCaptions) {
    Fixture f;
    const auto r =
        f.load(doc("    <group name=\"Office\">\n"
                   "        <key name=\"Boss pc\">boss-pc</key>\n"
                   "        <list name=\"Hall\">192.168.1.1,,pc-01,</list>\n"
                   "    </group>\n"
                   "    <other><group name=\"hidden\"><key name=\"x\">x</key></group></other>\n"
                   "    <key name=\"Lone\">10.0.0.7</key>\n"));
    ASSERT_EQ(r.status, LoadResult::Status::Loaded) << r.message.toStdString();

    struct Expect {
        const char* name;
        const char* address;
        int folder, parent, level;
    };
    const Expect expected[] = {
        {"MSG_Broadcast", "", 1, -1, 0},         {"Office", "", 1, 0, 1},
        {"Boss pc", "BOSS-PC", 0, 1, 2},         {"Hall", "", 1, 1, 2},
        {"192.168.1.1", "192.168.1.1", 0, 3, 3}, {"PC-01", "PC-01", 0, 3, 3},
        {"Lone", "10.0.0.7", 0, 0, 1},
    };
    ASSERT_EQ(f.list.size(), std::size(expected));
    for (std::size_t i = 0; i < f.list.size(); ++i) {
        const ClientRecord& c = f.list[i];
        EXPECT_EQ(c.name, q(expected[i].name)) << i;
        EXPECT_EQ(c.address, q(expected[i].address)) << i;
        EXPECT_EQ(c.folder, expected[i].folder) << i;
        EXPECT_EQ(c.parentIndex, expected[i].parent) << i;
        EXPECT_EQ(c.level, expected[i].level) << i;
        EXPECT_EQ(c.checkMark, CheckMark::Unchecked) << i;
        EXPECT_EQ(c.deliveryState, DeliveryState::None) << i;
        EXPECT_TRUE(c.messageId.isEmpty() && c.messageGuid.isEmpty() && c.reportTime.isEmpty());
    }
    EXPECT_EQ(f.tree.clears, 1);
    ASSERT_EQ(f.tree.items.size(), f.list.size());
    EXPECT_EQ(f.tree.items[0], (TreeItem{q("All clients"), 0}));
    for (std::size_t i = 1; i < f.list.size(); ++i)
        EXPECT_EQ(f.tree.items[i], (TreeItem{f.list[i].name, f.list[i].level})) << i;

    const ChildIndex children(f.list);
    EXPECT_EQ(std::vector<std::int32_t>(children.children(0).begin(), children.children(0).end()),
              (std::vector<std::int32_t>{1, 6}));
    EXPECT_EQ(children.children(3).size(), 2u);
    EXPECT_TRUE(children.children(6).empty());
}

TEST(ClientsDatabase, rangesFollowTheOdometer) {
    const struct {
        const char* entry;
        std::vector<const char*> addresses;
    } cases[] = {
        {"10.0.0.250-10.0.1.2",
         {"10.0.0.250", "10.0.0.251", "10.0.0.252", "10.0.0.253", "10.0.0.254", "10.0.1.1",
          "10.0.1.2"}},
        {"10.0.0.5-10.0.0.5", {"10.0.0.5"}},
        {"10.0.0.1-10.0.0.3,pc-7", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "PC-7"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        const auto r = f.load(doc(std::string("<list name=\"L\">") + c.entry + "</list>\n"));
        ASSERT_FALSE(r.failed()) << c.entry << ": " << r.message.toStdString();
        std::vector<QString> want;
        for (const char* a : c.addresses) want.push_back(q(a));
        EXPECT_EQ(f.addresses(), want) << c.entry;
    }
}

TEST(ClientsDatabase, versionAttribute) {
    const struct {
        const char* attrs;
        bool loads;
    } cases[] = {{" config=\"3.1\"", true},  {" config=\"3.5\"", true},
                 {" config=\"10\"", true},   {" config=\"3.0\"", false},
                 {" config=\"\"", false},    {"", false},
                 {" config=\"abc\"", false}, {" other=\"9\" config=\"3.10\"", true}};
    for (const auto& c : cases) {
        Fixture f;
        const auto r = f.load(doc("<key name=\"a\">a</key>\n", c.attrs));
        EXPECT_EQ(!r.failed(), c.loads) << c.attrs;
        if (!c.loads) {
            EXPECT_EQ(r.message,
                      q("XML-base of clients is incompartible with this version of program.\n"
                        "Modify XML-base according directions."));
        }
    }
    Fixture ru("RU");
    EXPECT_EQ(ru.load(doc("", " config=\"3.0\"")).message,
              q("Версия XML-базы клиентов несовместима с этой версией программы.\n"
                "Настройте XML-базу согласно указаниям."));
}

TEST(ClientsDatabase, failureMessages) {
    const char* en = "Error occured while parsing clients.xml: ";
    const char* ru = "Ошибка в структуре clients.xml:";
    const struct {
        const char* language;
        std::string content;
        std::string message;
    } cases[] = {
        {"EN", doc("<group name=\"a\">\n"),
         en + std::string(" mismatched tag\nLine 4, position 2")},
        {"RU", "<root config=\"3.1\"><key name=\"a\">&bad;</key></root>",
         ru + std::string(" undefined entity\nСтрока 1, позиция 33")},
        {"EN", "", en + std::string(" no element found\nLine 1, position 0")},
        {"EN", doc("<list name=\"L\">10.0.0.1-10.0.0.300</list>\n"),
         en + std::string("\r\nKey: 10.0.0.1-10.0.0.300\r\nSubstring: 10.0.0.300")},
        {"RU", doc("<list name=\"L\">10.0.0.X-10.0.0.3</list>\n"),
         ru + std::string("\r\nКлюч: 10.0.0.X-10.0.0.3\r\nПодстрока: 10.0.0.X")},
        {"EN", doc("<list name=\"L\">10.0.0.9-10.0.0.1</list>\n"),
         en + std::string("\r\nKey: 10.0.0.9-10.0.0.1")},
        {"EN", doc("<list name=\"L\">1234</list>\n"), en + std::string("\r\nKey: 1234")},
        {"RU", doc("<list name=\"L\">10.0.0.1, 10.0.0.2</list>\n"),
         ru + std::string("\r\nКлюч:  10.0.0.2")},
        // Wider than the 1,048,576 addresses a list may generate.
        {"EN", doc("<list name=\"L\">10.0.0.1-10.17.0.1</list>\n"),
         en + std::string("\r\nKey: 10.0.0.1-10.17.0.1")},
        // A parse error anywhere outranks a bad entry before it.
        {"EN", doc("<list name=\"L\">1234</list>\n<key>\n"),
         en + std::string(" mismatched tag\nLine 5, position 2")},
    };
    for (const auto& c : cases) {
        Fixture f(c.language);
        f.list.resize(3);  // left over from an earlier load
        const auto r = f.load(c.content);
        ASSERT_TRUE(r.failed()) << c.message;
        EXPECT_EQ(r.message.toStdString(), c.message);
        EXPECT_TRUE(f.list.empty());
        EXPECT_EQ(f.tree.clears, 1);
        EXPECT_TRUE(f.tree.items.empty());
    }
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string nested(int depth, const std::string& inner = "") {
    std::string body;
    for (int i = 0; i < depth; ++i) body += "<group name=\"g\">\n";
    body += inner;
    for (int i = 0; i < depth; ++i) body += "</group>\n";
    return doc(body);
}

// Beyond its bounds a database is refused with the element, its line and position; at the
// bound it loads. (Small bounds here; the defaults are the same code.)
TEST(ClientsDatabase, boundsOfDepthSizeAndLength) {
    const std::string en = "Error occured while parsing clients.xml:  ";
    ClientsLimits small;
    small.maxItems = 10;
    small.maxNameBytes = 8;
    const struct {
        const char* what;
        std::string content;
        ClientsLimits limits;
        std::string message;  // empty: loads
    } cases[] = {
        {"64 levels", nested(63, "<key name=\"k\">a</key>\n"), {}, ""},
        {"65 levels",
         nested(64, "<key name=\"k\">a</key>\n"),
         {},
         en + "<key> is nested deeper than 64 levels\nLine 67, position 0"},
        {"100,000 levels",
         nested(100000),
         {},
         en + "<group> is nested deeper than 64 levels\nLine 67, position 0"},
        {"unknown elements count too",
         doc(repeat("<x>", 65) + repeat("</x>", 65) + "\n"),
         {},
         en + "<x> is nested deeper than 64 levels\nLine 3, position 192"},
        {"items", doc("<list name=\"L\">10.0.0.1-10.0.0.8</list>\n"), small, ""},
        {"one item too many", doc("<list name=\"L\">10.0.0.1-10.0.0.9</list>\n"), small,
         en + "<list> makes the tree larger than 10 items\nLine 3, position 32"},
        {"name", doc("<group name=\"123456789\"/>\n"), small,
         en + "<group> has a name or text longer than 8 characters\nLine 3, position 0"},
        {"key text", doc("<key name=\"k\">123456789</key>\n"), small,
         en + "<key> has a name or text longer than 8 characters\nLine 3, position 14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        writeFile(f.file, c.content);
        const auto r = LoadClientsDatabase(f.file, f.list, &f.tree, f.texts, c.limits);
        EXPECT_EQ(r.message.toStdString(), c.message);
        EXPECT_EQ(r.failed(), !c.message.empty());
    }

    Fixture f;
    writeFile(f.file, doc("<key name=\"k\">a</key>\n"));
    ClientsLimits tiny;
    tiny.maxFileBytes = 1 << 20;
    std::filesystem::resize_file(f.file, tiny.maxFileBytes + 1);
    const auto r = LoadClientsDatabase(f.file, f.list, &f.tree, f.texts, tiny);
    EXPECT_EQ(r.message.toStdString(), en + "the file is larger than 1 MB");
}

TEST(ClientsDatabase, missingFileGivesEmptyTreeWithoutError) {
    Fixture f;
    f.list.resize(2);
    f.tree.items.push_back(TreeItem{q("stale"), 0});
    const auto r = LoadClientsDatabase(f.file, f.list, &f.tree, f.texts);
    EXPECT_EQ(r.status, LoadResult::Status::NoFile);
    EXPECT_TRUE(r.message.isEmpty());
    EXPECT_TRUE(f.list.empty());
    EXPECT_TRUE(f.tree.items.empty());
    EXPECT_EQ(f.tree.clears, 1);
}

TEST(ClientsDatabase, writtenDocumentFormatAndReadBack) {
    XmlElement root = newClientsDocument();
    XmlElement& group = root.addChild(q("group"));
    group.attributes.emplace_back(q("name"), q("Сканер клиентов"));
    XmlElement& key = group.addChild(q("key"));
    key.attributes.emplace_back(q("name"), q("a\"b<&>\tc\nd\x01"));
    key.text = q("PC-1");
    root.addChild(q("group")).attributes.emplace_back(q("name"), q("Empty"));
    EXPECT_EQ(formatClientsDocument(root),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<root config=\"3.1\">\n"
              "    <group name=\"Сканер клиентов\">\n"
              "        <key name=\"a&quot;b&lt;&amp;&gt;&#9;c&#10;d\">PC-1</key>\n"
              "    </group>\n"
              "    <group name=\"Empty\"/>\n"
              "</root>\n");

    Fixture f;
    ASSERT_TRUE(writeClientsDocument(f.file, root));
    const auto r = LoadClientsDatabase(f.file, f.list, &f.tree, f.texts);
    ASSERT_FALSE(r.failed()) << r.message.toStdString();
    ASSERT_EQ(f.list.size(), 4u);
    EXPECT_EQ(f.list[2].name, q("a\"b<&>\tc\nd"));
}

TEST(ClientsDatabase, conversionOfOlderTextDatabase) {
    TempDir dir;
    const std::string old =
        "\xEF\xBB\xBF;Tellwick Clients v2\r\n"
        "Ignored = before any section\r\n"
        "[+Office]\r\nPC1 = pc1\r\n"
        "[+Floor2]\r\nPC2 = 10.0.0.2\r\n"
        "[-]\r\nPC3 = pc3\r\n";
    writeFile(dir / "clients.ini", old);
    QString path = QString::fromStdString((dir.path() / "clients.INI").string());
    std::filesystem::rename(dir / "clients.ini", dir / "clients.INI");
    EXPECT_TRUE(ConvertOldClientsFile(path));
    EXPECT_EQ(path, QString::fromStdString((dir.path() / "clients.xml").string()));
    EXPECT_EQ(readFile(dir / "clients.INI"), old);
    EXPECT_EQ(readFile(dir / "clients.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<root config=\"3.1\">\n"
              "    <group name=\"Office\">\n"
              "        <key name=\"PC1\">PC1</key>\n"
              "        <group name=\"Floor2\">\n"
              "            <key name=\"PC2\">10.0.0.2</key>\n"
              "        </group>\n"
              "        <key name=\"PC3\">PC3</key>\n"
              "    </group>\n"
              "</root>\n");

    // The configured text keeps its form; only the extension changes.
    QString configured = q(".\\clients.ini");
    EXPECT_FALSE(ConvertOldClientsFile(configured));  // no such file here
    EXPECT_EQ(configured, q(".\\clients.ini"));

    // A file that is not an older database is left alone.
    writeFile(dir / "other.ini", "<root config=\"3.1\"/>\n");
    QString other = QString::fromStdString((dir.path() / "other.ini").string());
    EXPECT_FALSE(ConvertOldClientsFile(other));
    EXPECT_FALSE(std::filesystem::exists(dir / "other.xml"));

    // Without ".ini" the new name is added to, never the older file overwritten.
    writeFile(dir / "legacy.txt", ";Tellwick Clients v2\n[+G]\nA = a\n");
    QString legacy = QString::fromStdString((dir.path() / "legacy.txt").string());
    EXPECT_TRUE(ConvertOldClientsFile(legacy));
    EXPECT_TRUE(legacy.endsWith(q("legacy.txt.xml")));
    EXPECT_EQ(readFile(dir / "legacy.txt"), ";Tellwick Clients v2\n[+G]\nA = a\n");
}

// 100,000 nested "+" sections: the converted file stops one level past what the load accepts,
// so the load names the group and its line instead of the conversion overflowing the stack.
TEST(ClientsDatabase, conversionOfDeeplyNestedOlderDatabaseStaysBounded) {
    TempDir dir;
    std::string old = ";Tellwick Clients v2\r\n";
    for (int i = 0; i < 100000; ++i) old += "[+G" + std::to_string(i) + "]\r\n";
    old += "PC = 10.0.0.1\r\n";
    for (int i = 0; i < 100000; ++i) old += "[-]\r\n";
    old += "[-]\r\nTOP = 10.0.0.2\r\n";
    writeFile(dir / "clients.ini", old);
    QString path = QString::fromStdString((dir.path() / "clients.ini").string());
    ASSERT_TRUE(ConvertOldClientsFile(path));
    const std::string xml = readFile(dir / "clients.xml");
    EXPECT_NE(xml.find("<group name=\"G64\">"), std::string::npos);
    EXPECT_EQ(xml.find("<group name=\"G65\">"), std::string::npos);
    EXPECT_NE(xml.find("<key name=\"PC\">10.0.0.1</key>"), std::string::npos);
    // The key after the last closing section is back at the top.
    EXPECT_NE(xml.find("\n    <key name=\"TOP\">10.0.0.2</key>\n"), std::string::npos);

    Fixture f;
    const auto r = LoadClientsDatabase(dir / "clients.xml", f.list, &f.tree, f.texts);
    EXPECT_EQ(r.message.toStdString(),
              "Error occured while parsing clients.xml:  <group> is nested deeper than 64 "
              "levels\nLine 67, position 260");
}

TEST(ClientsDatabase, configuredPathWithBackslashes) {
    EXPECT_EQ(dataFilePath(q(".\\data\\clients.xml")), std::filesystem::path("./data/clients.xml"));
}

TEST(ClientsDatabase, creatableCheck) {
    TempDir dir;
    EXPECT_TRUE(ClientsFileCreatable(dir / "clients.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir / "clients.xml"));
    writeFile(dir / "clients.xml", "keep");
    EXPECT_TRUE(ClientsFileCreatable(dir / "clients.xml"));
    EXPECT_EQ(readFile(dir / "clients.xml"), "keep");
    EXPECT_FALSE(ClientsFileCreatable(dir / "no-such-folder" / "clients.xml"));
}

}  // namespace
