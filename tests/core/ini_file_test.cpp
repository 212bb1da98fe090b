#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

using fd::ReadProfileString;
using fd::WriteProfileString;
using fd::test::TempDir;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        fd::ClearProfileCache();
    }
    std::string Read(const std::string& path, const char* section, const char* key,
                     const char* def = "<default>", std::size_t size = 128) {
        return ReadProfileString(path, section, key, def, size);
    }
    TempDir m_dir;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefaultCutToTheBuffer) {
    const std::string none = m_dir.Path("none.ini");
    EXPECT_EQ(Read(none, "A", "k"), "<default>");
    EXPECT_EQ(Read(none, "A", "k", "abcdef", 4), "abc");
    EXPECT_EQ(Read(none, "A", "k", "abcdef", 0), "");
    const std::string empty = m_dir.Write("empty.ini", "");
    EXPECT_EQ(Read(empty, "A", "k"), "<default>");
    const std::string f = m_dir.Write("f.ini", "[A]\nk=1\n");
    EXPECT_EQ(Read(f, "B", "k"), "<default>");
    EXPECT_EQ(Read(f, "A", "other"), "<default>");
    EXPECT_EQ(Read(f, "A", ""), "<default>");
    // A folder or a FIFO of that name is not a file (and a FIFO must not block the read).
    EXPECT_EQ(Read(m_dir.Dir(), "A", "k"), "<default>");
    const std::string fifo = m_dir.Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Read(fifo, "A", "k"), "<default>");
    EXPECT_FALSE(WriteProfileString(fifo, "A", "k", "v"));
}

TEST_F(IniFileTest, ProfileStringRules) {
    const std::string f = m_dir.Write("rules.ini",
                                      "\xEF\xBB\xBF"
                                      "orphan=before any section\r\n"
                                      "[ Color ]\r\n"
                                      "  ChildBkColor  =  1, 2, 3  \r\n"
                                      "; ChildBkColor=comment\r\n"
                                      "childbkcolor=second\r\n"
                                      "a line without an equals sign\r\n"
                                      "Empty=\r\n"
                                      "Quoted=\"  spaced  \"\r\n"
                                      "Single='x'\r\n"
                                      "Unbalanced=\"x\r\n"
                                      "Tabbed\t=\tv\t\r\n"
                                      "Eq=a=b\r\n"
                                      "[Font]\n"
                                      "FontName=Arial\n"
                                      "[color]\n"
                                      "ChildBkColor=from repeated section\n"
                                      "Late=only here\n"
                                      "[Last]\n"
                                      "NoEnd=x");
    EXPECT_EQ(Read(f, "COLOR", "CHILDBKCOLOR"), "1, 2, 3");  // first match, trimmed
    EXPECT_EQ(Read(f, "Color", "Empty"), "");                // present: not the default
    EXPECT_EQ(Read(f, "Color", "Quoted"), "  spaced  ");
    EXPECT_EQ(Read(f, "Color", "Single"), "x");
    EXPECT_EQ(Read(f, "Color", "Unbalanced"), "\"x");
    EXPECT_EQ(Read(f, "Color", "Tabbed"), "v");
    EXPECT_EQ(Read(f, "Color", "Eq"), "a=b");
    EXPECT_EQ(Read(f, "Color", "Late"), "only here");
    EXPECT_EQ(Read(f, "Color", "; ChildBkColor"), "<default>");
    EXPECT_EQ(Read(f, "Color", "a line without an equals sign"), "<default>");
    EXPECT_EQ(Read(f, "", "orphan"), "<default>");
    EXPECT_EQ(Read(f, "font", "fontname"), "Arial");
    EXPECT_EQ(Read(f, "Last", "NoEnd"), "x");
}

TEST_F(IniFileTest, LongValuesAreCutWithoutSplittingCharacters) {
    const std::string big(100000, 'v');
    const std::string f =
        m_dir.Write("long.ini", "[S]\nbig=" + big + "\nzh=中文字\nraw=\xff\xfe\x80x\n");
    EXPECT_EQ(Read(f, "S", "big", "", big.size() + 1), big);
    EXPECT_EQ(Read(f, "S", "big", "", 128).size(), 127u);
    // 9 bytes of UTF-8; a 5-byte buffer holds 4 bytes, which would split the second character.
    EXPECT_EQ(Read(f, "S", "zh", "", 5), "中");
    EXPECT_EQ(Read(f, "S", "zh", "", 7), "中文");
    // Bytes that are not UTF-8 are passed through; the layer is not an encoding checker.
    EXPECT_EQ(Read(f, "S", "raw"), "\xff\xfe\x80x");
    EXPECT_EQ(Read(f, "S", "raw", "", 3), "\xff\xfe");
}

TEST_F(IniFileTest, EmbeddedNulEndsTheValue) {
    const std::string f = m_dir.Write("nul.ini", std::string("[S]\nk=ab\0cd\nz=1\n", 17));
    EXPECT_EQ(Read(f, "S", "k"), "ab");
    EXPECT_EQ(Read(f, "S", "z"), "1");
}

TEST_F(IniFileTest, CachedFileIsReadAgainAfterItChanges) {
    const std::string f = m_dir.Write("c.ini", "[S]\nk=one\n");
    EXPECT_EQ(Read(f, "S", "k"), "one");
    // Same size, replaced by rename as editors do.
    const std::string tmp = m_dir.Write("c.tmp", "[S]\nk=two\n");
    ASSERT_EQ(::rename(tmp.c_str(), f.c_str()), 0);
    EXPECT_EQ(Read(f, "S", "k"), "two");
    // Rewritten in place with another size.
    m_dir.Write("c.ini", "[S]\nk=three\n");
    EXPECT_EQ(Read(f, "S", "k"), "three");
    ASSERT_EQ(::unlink(f.c_str()), 0);
    EXPECT_EQ(Read(f, "S", "k"), "<default>");
}

TEST_F(IniFileTest, WriteCreatesTheFileAndTheSection) {
    const std::string f = m_dir.Path("FileServer.ini");
    ASSERT_TRUE(WriteProfileString(f, "SERVER", "Directory", "/srv/fw"));
    EXPECT_EQ(TempDir::Read(f), "[SERVER]\nDirectory=/srv/fw\n");
    EXPECT_EQ(Read(f, "server", "directory"), "/srv/fw");
    ASSERT_TRUE(WriteProfileString(f, "SERVER", "Directory", "/srv/other"));
    EXPECT_EQ(TempDir::Read(f), "[SERVER]\nDirectory=/srv/other\n");
    EXPECT_EQ(Read(f, "SERVER", "Directory"), "/srv/other");
    EXPECT_FALSE(WriteProfileString(m_dir.Path("no/such/folder/x.ini"), "S", "k", "v"));
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineExactly) {
    const std::string before =
        "\xEF\xBB\xBF; leading comment\r\n"
        "[Other]\r\n"
        "Directory=untouched\r\n"
        "\r\n"
        "[Server]\r\n"
        "  DIRECTORY = old  \r\n"
        "junk line \xff\xfe\r\n"
        "Port=69\r\n"
        "\r\n"
        "[Tail]\r\n"
        "x=1";
    const std::string f = m_dir.Write("keep.ini", before);
    ASSERT_TRUE(WriteProfileString(f, "SERVER", "Directory", "C:/fw"));
    std::string expected = before;
    expected.replace(expected.find("  DIRECTORY = old  "), 19, "Directory=C:/fw");
    EXPECT_EQ(TempDir::Read(f), expected);

    // A new key goes after the section's last line, before the blank line; CRLF is kept.
    ASSERT_TRUE(WriteProfileString(f, "Server", "Timeout", "5"));
    std::string expected2 = expected;
    expected2.insert(expected2.find("Port=69\r\n") + 9, "Timeout=5\r\n");
    EXPECT_EQ(TempDir::Read(f), expected2);

    // A key for the last section, whose last line has no line end.
    ASSERT_TRUE(WriteProfileString(f, "Tail", "y", "2"));
    EXPECT_EQ(TempDir::Read(f), expected2 + "\r\ny=2\r\n");
    ASSERT_TRUE(WriteProfileString(f, "New", "k", "v"));
    EXPECT_EQ(TempDir::Read(f), expected2 + "\r\ny=2\r\n[New]\r\nk=v\r\n");
    EXPECT_EQ(Read(f, "Other", "Directory"), "untouched");
    EXPECT_EQ(Read(f, "Tail", "x"), "1");
}

TEST_F(IniFileTest, WriteReplacesTheKeyAReadFinds) {
    // The first [S] lacks the key; a read finds it in the next section of that name, so the
    // write replaces that line rather than leaving a stale copy behind; the later copy,
    // which no read can see, stays as it was.
    const std::string f = m_dir.Write("dup.ini", "[S]\na=1\n[T]\n[s]\nk=old\n[S]\nk=older\n");
    ASSERT_TRUE(WriteProfileString(f, "S", "k", "new"));
    EXPECT_EQ(TempDir::Read(f), "[S]\na=1\n[T]\n[s]\nk=new\n[S]\nk=older\n");
    EXPECT_EQ(Read(f, "S", "k"), "new");
}

TEST_F(IniFileTest, WriteRefusesTextThatWouldBreakTheFile) {
    const std::string before = "[S]\nk=v\n";
    const std::string f = m_dir.Write("safe.ini", before);
    EXPECT_FALSE(WriteProfileString(f, "S", "k", "v\n[Evil]\nx=1"));
    EXPECT_FALSE(WriteProfileString(f, "S", "k", "v\rw"));
    EXPECT_FALSE(WriteProfileString(f, "S", "k", std::string_view("a\0b", 3)));
    EXPECT_FALSE(WriteProfileString(f, "S", "a=b", "v"));
    EXPECT_FALSE(WriteProfileString(f, "S", "[x", "v"));
    EXPECT_FALSE(WriteProfileString(f, "S", ";x", "v"));
    EXPECT_FALSE(WriteProfileString(f, "S]", "k", "v"));
    EXPECT_FALSE(WriteProfileString(f, "", "k", "v"));
    EXPECT_FALSE(WriteProfileString(f, "S", " ", "v"));
    EXPECT_EQ(TempDir::Read(f), before);
}

TEST_F(IniFileTest, WriteKeepsModeAndSymbolicLink) {
    const std::string real = m_dir.Write("real.ini", "[S]\nk=v\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const std::string link = m_dir.Path("link.ini");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteProfileString(link, "S", "k", "w"));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(TempDir::Read(real), "[S]\nk=w\n");
    // No temporary file is left behind.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_dir.Dir())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

TEST_F(IniFileTest, ReadersNeverSeeAHalfWrittenFile) {
    const std::string f = m_dir.Write("race.ini", "[A]\nfill=xxxxxxxxxxxxxxxx\n[S]\nk=0\n");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                const std::string v = Read(f, "S", "k", "missing");
                if (v.empty() || v == "missing" || v.find_first_not_of("0123456789") != v.npos)
                    ++bad;
            }
        });
    }
    for (int i = 1; i <= 200; ++i) ASSERT_TRUE(WriteProfileString(f, "S", "k", std::to_string(i)));
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(Read(f, "S", "k"), "200");
}

TEST(OperateFileIni, ReadsAndWritesItsFile) {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    COperateFileIni ini(dir.Path("x.ini"));
    EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
    EXPECT_TRUE(ini.WriteString("S", "k", "v"));
    EXPECT_EQ(ini.ReadString("s", "K"), "v");
}

}  // namespace
