#include "TIniFile.h"

#include "EkaError.h"
#include "UnprivilegedScope.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace {

class TIniFileTest : public ::testing::Test {
protected:
    QString Path() const { return Dir.filePath(QStringLiteral("test.ini")); }

    void WriteRaw(const QByteArray& bytes) const {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray ReadRaw() const {
        QFile f(Path());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }

    QTemporaryDir Dir;
};

TEST_F(TIniFileTest, MissingFileSectionOrKeyGivesDefault) {
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "K", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("S", "K", 7), 7);
    EXPECT_TRUE(ini.ReadBool("S", "K", true));
    ini.WriteString("S", "Other", "x");
    EXPECT_EQ(ini.ReadString("S", "K", "def"), "def");
    EXPECT_EQ(ini.ReadString("T", "Other", "def"), "def");
}

TEST_F(TIniFileTest, NamesIgnoreCaseAndValuesAreVerbatim) {
    TIniFile ini(Path());
    ini.WriteString("String", "Form.Edit", "  Mixed Case = with equals ; and semicolon ");
    EXPECT_EQ(ini.ReadString("STRING", "form.edit", ""),
              "  Mixed Case = with equals ; and semicolon ");
    ini.WriteString("string", "FORM.EDIT", "second");
    EXPECT_EQ(ini.ReadSection("String"), QStringList{"Form.Edit"});
    EXPECT_EQ(ini.ReadString("String", "Form.Edit", ""), "second");
    EXPECT_EQ(ini.ReadSections(), QStringList{"String"});
}

TEST_F(TIniFileTest, ReadsAtMost2047Characters) {
    TIniFile ini(Path());
    const QString longValue(5000, QLatin1Char('a'));
    ini.WriteString("S", "K", longValue);
    EXPECT_EQ(ini.ReadString("S", "K", "").size(), 2047);
    EXPECT_TRUE(ReadRaw().contains(longValue.toUtf8()));
}

TEST_F(TIniFileTest, IntegerEncodings) {
    TIniFile ini(Path());
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"42", 42},
                 {"-17", -17},
                 {"0x10", 16},
                 {"0X1f", 31},
                 {"$FF", 255},
                 {"$FFFFFFFF", -1},
                 {"-$10", -16},
                 {"2147483647", 2147483647},
                 {"-2147483648", INT_MIN},
                 {"2147483648", -5},
                 {"abc", -5},
                 {"12abc", -5},
                 {"", -5},
                 {"0x", -5},
                 {" 1", 1},
                 {"  12 \t", 12},
                 {"\t-0x10 ", -16},
                 {"1 2", -5},
                 {"- 1", -5},
                 {"1.5", -5},
                 {"$1FFFFFFFF", -5}};
    for (const auto& c : cases) {
        ini.WriteString("Integer", "K", c.text);
        EXPECT_EQ(ini.ReadInteger("Integer", "K", -5), c.expected) << c.text;
    }
    ini.WriteInteger("Integer", "K", -123);
    EXPECT_EQ(ini.ReadString("Integer", "K", ""), "-123");
}

TEST_F(TIniFileTest, BooleanIsReadAsInteger) {
    TIniFile ini(Path());
    ini.WriteBool("B", "T", true);
    ini.WriteBool("B", "F", false);
    EXPECT_EQ(ini.ReadString("B", "T", ""), "1");
    EXPECT_EQ(ini.ReadString("B", "F", ""), "0");
    ini.WriteString("B", "Two", "2");
    ini.WriteString("B", "Junk", "abc");
    EXPECT_TRUE(ini.ReadBool("B", "Two", false));
    EXPECT_TRUE(ini.ReadBool("B", "Junk", true));
    EXPECT_FALSE(ini.ReadBool("B", "Junk", false));
    EXPECT_FALSE(ini.ReadBool("B", "F", true));
}

TEST_F(TIniFileTest, HandWrittenNumbersWithBlanksAreRead) {
    WriteRaw("[Integer]\nForm.TrackBar = 12\nForm.Other=\t-7 \n"
             "[Boolean]\nForm.On = 1\r\nForm.Off =  0 \nForm.Junk = 1 2\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Integer", "Form.TrackBar", 0), 12);
    EXPECT_EQ(ini.ReadInteger("Integer", "Form.Other", 0), -7);
    EXPECT_TRUE(ini.ReadBool("Boolean", "Form.On", false));
    EXPECT_FALSE(ini.ReadBool("Boolean", "Form.Off", true));
    EXPECT_TRUE(ini.ReadBool("Boolean", "Form.Junk", true));
    // Strings stay verbatim.
    EXPECT_EQ(ini.ReadString("Integer", "Form.TrackBar", ""), " 12");
}

// UTF-16 with its byte-order mark.
QByteArray Utf16(const QString& text, bool bigEndian) {
    QByteArray bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (QChar c : text) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST_F(TIniFileTest, FilesOfOtherEditorsKeepTheirTextAndAreWrittenBackAsUtf8) {
    const QString german = QStringLiteral("Gr\u00FC\u00DFe \u20AC \u201Cx\u201D");
    const QString text = QStringLiteral("[Language]\r\nCaption=") + german + "\r\n";
    const struct {
        const char* what;
        QByteArray bytes;
    } files[] = {
        {"Windows-1252", "[Language]\r\nCaption=Gr\xFC\xDF"
                         "e \x80 \x93x\x94\r\n"},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + text.toUtf8()},
        {"UTF-16LE", Utf16(text, false)},
        {"UTF-16BE", Utf16(text, true)},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        WriteRaw(file.bytes);
        TIniFile ini(Path());
        EXPECT_EQ(ini.ReadString("Language", "Caption", ""), german);
        ini.WriteString("Language", "Other", QStringLiteral("\u00E4"));
        const QByteArray rewritten = ReadRaw();
        EXPECT_TRUE(rewritten.startsWith("[Language]\n")) << rewritten.toStdString();
        EXPECT_TRUE(rewritten.contains("Caption=" + german.toUtf8() + "\n"));
        EXPECT_TRUE(rewritten.contains("Other=\xC3\xA4\n"));
        EXPECT_EQ(TIniFile(Path()).ReadString("Language", "Caption", ""), german);
    }
}

TEST_F(TIniFileTest, EveryChangeOfTheFileIsSeenAlsoWithinOneSecond) {
    WriteRaw("[S]\nK=a\n");
    TIniFile ini(Path());
    ASSERT_EQ(ini.ReadString("S", "K", ""), "a");
    struct stat original {};
    ASSERT_EQ(::stat(QFile::encodeName(Path()).constData(), &original), 0);
    const timespec times[2] = {original.st_atim, original.st_mtim};

    // Another editor replaces the file: same size, same modification time.
    const QString other = Dir.filePath(QStringLiteral("other.ini"));
    {
        QFile f(other);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[S]\nK=b\n");
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0), 0);
    ASSERT_TRUE(QFile::remove(Path()));
    ASSERT_TRUE(QFile::rename(other, Path()));
    EXPECT_EQ(ini.ReadString("S", "K", ""), "b");

    // Rewritten in place, same size, the modification time put back.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteRaw("[S]\nK=c\n");
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Path()).constData(), times, 0), 0);
    EXPECT_EQ(ini.ReadString("S", "K", ""), "c");

    // Removed: defaults again.
    ASSERT_TRUE(QFile::remove(Path()));
    EXPECT_EQ(ini.ReadString("S", "K", "gone"), "gone");
}

TEST_F(TIniFileTest, AFileOf50000KeysIsReadAndWritten) {
    QByteArray big = "[Big]\n";
    for (int i = 0; i < 50000; ++i)
        big += "Key" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
    big += "key49999=duplicate\n[Other]\nK=v\n";
    WriteRaw(big);
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Big", "KEY0", -1), 0);
    EXPECT_EQ(ini.ReadInteger("Big", "Key49999", -1), 49999);
    EXPECT_EQ(ini.ReadSection("Big").size(), 50000);
    ini.WriteString("Other", "K", "w");
    EXPECT_EQ(TIniFile(Path()).ReadString("Big", "Key25000", ""), "25000");
    EXPECT_EQ(ini.ReadString("Other", "K", ""), "w");
}

TEST_F(TIniFileTest, EveryReadSeesAnotherObjectsWrite) {
    TIniFile a(Path());
    TIniFile b(Path());
    a.WriteString("S", "K", "one");
    EXPECT_EQ(b.ReadString("S", "K", ""), "one");
    b.WriteString("S", "K", "two");
    EXPECT_EQ(a.ReadString("S", "K", ""), "two");
}

TEST_F(TIniFileTest, LineBreaksInValuesCannotInjectKeys) {
    TIniFile ini(Path());
    ini.WriteString("S", "K", "a\r\n[Evil]\nX=1");
    EXPECT_FALSE(ini.SectionExists("Evil"));
    EXPECT_EQ(ini.ReadString("S", "K", ""), "a  [Evil] X=1");
    EXPECT_THROW(ini.WriteString("S", "Bad=Key", "v"), EkaError);
    EXPECT_THROW(ini.WriteString("Bad]Section", "K", "v"), EkaError);
}

TEST_F(TIniFileTest, SectionsEraseDeleteAndOrder) {
    TIniFile ini(Path());
    ini.WriteString("A", "2", "two");
    ini.WriteString("A", "1", "one");
    ini.WriteString("B", "x", "y");
    const auto values = ini.ReadSectionValues("a");
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].first, "2");
    EXPECT_EQ(values[1].second, "one");
    ini.DeleteKey("A", "2");
    EXPECT_FALSE(ini.ValueExists("A", "2"));
    EXPECT_TRUE(ini.ValueExists("A", "1"));
    ini.EraseSection("a");
    EXPECT_FALSE(ini.SectionExists("A"));
    EXPECT_TRUE(ini.SectionExists("B"));
    ini.EraseSection("missing");
    ini.ReplaceSection("B", {{"0", "zero"}, {"1", "one"}});
    EXPECT_EQ(ini.ReadSection("B"), (QStringList{"0", "1"}));
    ini.ReplaceSection("b", {});
    EXPECT_FALSE(ini.SectionExists("B"));
    EXPECT_TRUE(ini.ReadSectionValues("missing").isEmpty());
}

TEST_F(TIniFileTest, BadFilesYieldValuesAndARewriteIsWellFormed) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) % 256));
    const QByteArray longLine(100000, 'z');
    WriteRaw("junk before any section\nK0=orphan\n" + garbage +
             "\n[Good]\nA=1\nA=2\n  B = spaced\n" +
             "; a comment\nno equals sign\n=novalue\n[Unterminated\nC=3\n[Long]\nL=" + longLine +
             "\n" + longLine + "\n[good]\nD=4\nA=5\n\r\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Good", "A", ""), "1"); // the first of duplicate keys wins
    EXPECT_EQ(ini.ReadString("Good", "B", ""), " spaced");
    EXPECT_EQ(ini.ReadString("Good", "D", ""), "4"); // a repeated section adds its keys
    EXPECT_EQ(ini.ReadString("Unterminated", "C", ""), "3");
    EXPECT_EQ(ini.ReadString("Long", "L", "").size(), 2047);

    ini.WriteString("Good", "New", "n");
    const QByteArray rewritten = ReadRaw();
    EXPECT_FALSE(rewritten.contains("no equals sign"));
    EXPECT_FALSE(rewritten.contains("orphan"));
    EXPECT_TRUE(rewritten.contains("[Unterminated]\nC=3\n"));
    EXPECT_EQ(rewritten.count("[Good]"), 1);
    EXPECT_EQ(rewritten.count("[good]"), 0);
    TIniFile again(Path());
    EXPECT_EQ(again.ReadString("Good", "A", ""), "1");
    EXPECT_EQ(again.ReadString("Good", "D", ""), "4");
    EXPECT_EQ(again.ReadString("Good", "New", ""), "n");
    EXPECT_EQ(again.ReadString("Unterminated", "C", ""), "3");
    EXPECT_EQ(again.ReadString("Long", "L", "").size(), 2047);
    // A second rewrite changes nothing else: the format is stable.
    again.WriteString("Good", "New", "n");
    EXPECT_EQ(ReadRaw(), rewritten);
}

TEST_F(TIniFileTest, RefusedWriteNamesTheFileAndKeepsTheOldContent) {
    TIniFile ini(Path());
    ini.WriteString("S", "K", "old");
    OpenPathForEverybody(Dir.path().toLocal8Bit().constData());
    QFile::setPermissions(Dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile::setPermissions(Path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadOther);
    {
        UnprivilegedScope nobody;
        try {
            ini.WriteString("S", "K", "new");
            ADD_FAILURE() << "no error";
        } catch (const EkaError& e) {
            EXPECT_TRUE(e.message().contains(Path())) << e.message().toStdString();
        }
        EXPECT_EQ(ini.ReadString("S", "K", ""), "old");
    }
    QFile::setPermissions(Dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(TIniFileTest, WriteIntoMissingDirectoryNamesTheFile) {
    const QString path = Dir.filePath(QStringLiteral("missing/test.ini"));
    TIniFile ini(path);
    try {
        ini.WriteString("S", "K", "v");
        FAIL() << "no error";
    } catch (const EkaError& e) {
        EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
    }
}

TEST_F(TIniFileTest, UnreadableFileIsNotOverwritten) {
    // A directory in place of the file cannot be read: the write must not replace it.
    ASSERT_TRUE(QDir(Dir.path()).mkdir(QStringLiteral("test.ini")));
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "K", "d"), "d");
    EXPECT_THROW(ini.WriteString("S", "K", "v"), EkaError);
    EXPECT_TRUE(QFileInfo(Path()).isDir());
}

} // namespace
