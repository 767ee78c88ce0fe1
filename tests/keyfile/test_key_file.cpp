// key.xml: reading, saving into an existing document, and robustness against
// hand-edited or damaged files.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <random>
#include <string>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "ui/c_key_file.h"
#include "ui/xml_file.h"

namespace {

const int32_t kControl = 0x01000021;
const int32_t kAlt = 0x01000023;
const int32_t kF4 = 0x01000033;

class KeyFile : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath("key.xml"); }

    void write(const std::string& text) const { ASSERT_TRUE(write_all(path().toStdString(), text)); }
    std::string read() const { return read_all(path().toStdString()); }

    SysKeyMap load(bool expectOk = true)
    {
        SysKeyMap map;
        c_key_file file(path());
        EXPECT_EQ(file.load(map), expectOk);
        return map;
    }

    QTemporaryDir dir;
};

std::string printed(const tinyxml2::XMLNode* node)
{
    tinyxml2::XMLPrinter printer;
    node->Accept(&printer);
    return printer.CStr();
}

}  // namespace

TEST_F(KeyFile, NamesAreOrderedByUtf16AndValuesReadAsCodes)
{
    write("<root><common>"
          "<key name=\"b\"><keyValue value=\"16777249\" str=\"Control\"/><keyValue value=\"66\" str=\"b\"/></key>"
          "<key name=\"A\"><keyValue value=\"16777251\" str=\"Alt\"/><keyValue value=\"16777267\" str=\"F4\"/></key>"
          "</common></root>");
    SysKeyMap map = load();
    ASSERT_EQ(map.keys(), (QStringList{"A", "b"}));
    EXPECT_EQ(map.value("A"), (std::vector<SYSTEMKEYINFO>{{"Alt", kAlt}, {"F4", kF4}}));
    EXPECT_EQ(map.value("b"), (std::vector<SYSTEMKEYINFO>{{"Control", kControl}, {"b", 66}}));
    EXPECT_TRUE(map.value("missing").empty());
}

TEST_F(KeyFile, LaterDuplicateWinsAndElementNamesAreNotChecked)
{
    write("<anything><other/><common>"
          "<key name=\"x\"><keyValue value=\"65\" str=\"a\"/></key>"
          "<seq name=\"y\"><k value=\"66\" str=\"b\"/><kv2 value=\"67\" str=\"c\"/></seq>"
          "<key name=\"x\"><keyValue value=\"68\" str=\"d\"/></key>"
          "</common><common><key name=\"ignored\"/></common></anything>");
    SysKeyMap map = load();
    ASSERT_EQ(map.keys(), (QStringList{"x", "y"}));
    EXPECT_EQ(map.value("x"), (std::vector<SYSTEMKEYINFO>{{"d", 68}}));
    EXPECT_EQ(map.value("y"), (std::vector<SYSTEMKEYINFO>{{"b", 66}, {"c", 67}}));
}

TEST_F(KeyFile, SaveRewritesOnlyCommonAndKeepsTheRestOfTheDocument)
{
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    write(declaration + "\n<!-- user notes -->\n<cfg version=\"3\">\n"
          "  <before a=\"1\"><inner>text</inner></before>\n"
          "  <common><key name=\"old\"><keyValue value=\"1\" str=\"x\"/></key><junk/></common>\n"
          "  <after b=\"2\"/>\n</cfg>\n");
    tinyxml2::XMLDocument original;
    ASSERT_EQ(original.LoadFile(path().toLocal8Bit().constData()), tinyxml2::XML_SUCCESS);

    SysKeyMap map;
    map.insert("Zeta", {{"Alt", kAlt}, {"F4", kF4}});
    map.insert("Alpha", {{"Control", kControl}});
    map.insert(QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87"), {{"Space", 0x20}});
    map.insert("", {{"Tab", 0x01000001}});
    LogCapture log;
    c_key_file file(path());
    ASSERT_TRUE(file.save(map));
    EXPECT_TRUE(log.contains("save system key info:" + path().toStdString()));

    const std::string text = read();
    EXPECT_EQ(text.rfind(declaration, 0), 0u) << text;
    EXPECT_NE(text.find("<!-- user notes -->"), std::string::npos);
    // Indented four spaces per level, "value" written before "str".
    EXPECT_NE(text.find("\n        <key name=\"Alpha\">\n"
                        "            <keyValue value=\"16777249\" str=\"Control\"/>\n"
                        "        </key>\n"),
              std::string::npos)
        << text;

    tinyxml2::XMLDocument saved;
    ASSERT_EQ(saved.Parse(text.c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = saved.RootElement();
    EXPECT_STREQ(root->Attribute("version"), "3");
    EXPECT_EQ(printed(root->FirstChildElement("before")),
              printed(original.RootElement()->FirstChildElement("before")));
    EXPECT_EQ(printed(root->FirstChildElement("after")), printed(original.RootElement()->FirstChildElement("after")));

    std::vector<std::string> names;
    for (const tinyxml2::XMLElement* k = root->FirstChildElement("common")->FirstChildElement(); k;
         k = k->NextSiblingElement()) {
        EXPECT_STREQ(k->Name(), "key");
        names.push_back(k->Attribute("name"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "Alpha", "Zeta", "\xE4\xB8\xAD\xE6\x96\x87"}));

    EXPECT_EQ(load(), map);
}

TEST_F(KeyFile, EmptySequenceAndSignedCodesRoundTrip)
{
    write("<r><common/></r>");
    SysKeyMap map;
    map.insert("empty", {});
    map.insert("neg", {{"odd", -5}, {"big", static_cast<int32_t>(0x80000001u)}});
    c_key_file file(path());
    ASSERT_TRUE(file.save(map));
    const std::string text = read();
    EXPECT_NE(text.find("<key name=\"empty\"/>"), std::string::npos) << text;
    EXPECT_NE(text.find("value=\"-5\""), std::string::npos) << text;

    SysKeyMap back = load();
    ASSERT_TRUE(back.contains("empty"));
    EXPECT_TRUE(back.value("empty").empty());
    EXPECT_EQ(back, map);
}

TEST_F(KeyFile, MissingFileIsNeverCreated)
{
    SysKeyMap map;
    map.insert("keep", {{"A", 0x41}});
    c_key_file file(path());
    EXPECT_FALSE(file.load(map));
    EXPECT_EQ(map.keys(), QStringList{"keep"});  // a failed load leaves the map alone
    EXPECT_FALSE(file.save(map));
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(KeyFile, DocumentWithoutCommonIsNotWritten)
{
    const std::string text = "<r>\n<notcommon/>\n<x><common/></x>\n</r>\n";
    write(text);
    SysKeyMap map = load(false);
    EXPECT_TRUE(map.isEmpty());
    map.insert("a", {});
    c_key_file file(path());
    EXPECT_FALSE(file.save(map));
    EXPECT_EQ(read(), text);

    // A document with no element at all.
    write("<?xml version=\"1.0\"?><!-- nothing here -->");
    EXPECT_TRUE(load(false).isEmpty());
    EXPECT_FALSE(file.save(map));
}

TEST_F(KeyFile, IncompleteEntriesAreSkippedAndBadNumbersReadAsZero)
{
    write("<r><common>"
          "<key><keyValue value=\"65\" str=\"nameless\"/></key>"
          "<key name=\"partial\">"
          "<keyValue str=\"no value\"/><keyValue value=\"66\"/>"
          "<keyValue value=\"abc\" str=\"text\"/><keyValue value=\"12abc\" str=\"lead\"/>"
          "<keyValue value=\" 7\" str=\"space\"/><keyValue value=\"4294967295\" str=\"max\"/>"
          "</key>"
          "text<!-- c --><key name=\"ok\"><keyValue value=\"67\" str=\"C\">child<x/></keyValue></key>"
          "</common></r>");
    SysKeyMap map = load();
    ASSERT_EQ(map.keys(), (QStringList{"ok", "partial"}));
    EXPECT_EQ(map.value("partial"),
              (std::vector<SYSTEMKEYINFO>{{"text", 0}, {"lead", 12}, {"space", 7}, {"max", -1}}));
    EXPECT_EQ(map.value("ok"), (std::vector<SYSTEMKEYINFO>{{"C", 67}}));

    // Broken XML: nothing read, map untouched.
    write("<r><common><key name=\"a\"></common>");
    SysKeyMap kept;
    kept.insert("kept", {});
    c_key_file file(path());
    EXPECT_FALSE(file.load(kept));
    EXPECT_EQ(kept.keys(), QStringList{"kept"});
}

// Mutated documents must never crash the reader or the writer (run the suite
// with the sanitizer build to catch memory faults).
TEST(KeyFileFuzz, MutatedDocumentsAreHandled)
{
    const std::string seed =
        "<?xml version=\"1.0\"?><r><common><key name=\"A\"><keyValue value=\"16777251\" str=\"Alt\"/>"
        "<keyValue value=\"65\" str=\"a\"/></key><key name=\"\"/></common><o/></r>";
    const std::string alphabet = "<>/=\"' !?-abcdeknmorsuvy0123456789&;\x01\xC3\xA4\xFF";
    std::mt19937 rng(12345);
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string doc = seed;
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits && !doc.empty(); ++e) {
            const size_t pos = rng() % doc.size();
            switch (rng() % 3) {
            case 0: doc.erase(pos, 1 + rng() % 8); break;
            case 1: doc.insert(pos, 1, alphabet[rng() % alphabet.size()]); break;
            default: doc[pos] = alphabet[rng() % alphabet.size()]; break;
            }
        }
        tinyxml2::XMLDocument xml;
        if (xml.Parse(doc.data(), doc.size()) != tinyxml2::XML_SUCCESS)
            continue;
        ++parsed;
        SysKeyMap map;
        if (!c_key_file::readDocument(xml, map))
            continue;
        ASSERT_TRUE(c_key_file::writeDocument(xml, map));
        QByteArray text;
        if (!xml_render_indented(xml, text))
            continue;
        tinyxml2::XMLDocument again;
        ASSERT_EQ(again.Parse(text.constData(), static_cast<size_t>(text.size())), tinyxml2::XML_SUCCESS);
        SysKeyMap reread;
        ASSERT_TRUE(c_key_file::readDocument(again, reread));
        ASSERT_EQ(reread.size(), map.size()) << text.constData();
    }
    EXPECT_GT(parsed, 1000);
}

// tinyxml2 accepts stray text after the root but prints it escaped in a form it
// then refuses; such a document must not replace the user's file.
TEST_F(KeyFile, SaveRefusesOutputThatWouldNotLoadAgain)
{
    const std::string text = "<r><common/></r>/c>+o/></r>";
    write(text);
    SysKeyMap map;
    map.insert("a", {{"A", 0x41}});
    c_key_file file(path());
    EXPECT_FALSE(file.save(map));
    EXPECT_EQ(read(), text);
}
