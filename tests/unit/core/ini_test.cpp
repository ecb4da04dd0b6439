// INI store: the line model and its quirks, round trips, and the all-or-nothing save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "core/ini.h"

namespace fs = std::filesystem;

namespace {

class Ini : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/hdext-ini-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        CloseIniFile();
        fs::remove_all(dir);
    }
    std::string file(const std::string& name) const { return (dir / name).string(); }
    void put(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
    std::string get(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Every entry of the folder (to spot temporary files left behind).
    std::vector<std::string> entries() const {
        std::vector<std::string> v;
        for (auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
        std::sort(v.begin(), v.end());
        return v;
    }
    // Opens `text` as a file, applies `edit`, saves and returns the saved bytes.
    std::string rewrite(const std::string& text, const std::function<void()>& edit) {
        put("t.ini", text);
        EXPECT_EQ(OpenIniFile(file("t.ini").c_str()), 1);
        edit();
        EXPECT_EQ(WriteIniFile(file("t.ini").c_str()), 1);
        return get("t.ini");
    }
    fs::path dir;
};

// Edits of a stored file: (text, edit, saved text).
TEST_F(Ini, EditsKeepTheRestOfTheFileByteForByte) {
    const std::vector<std::tuple<const char*, std::function<void()>, const char*>> cases = {
        // comments stay and cut the value
        {"; settings\n[wifi]\nname=a;b\n\n", [] {
             EXPECT_STREQ(ReadString("WIFI", "NAME", "x"), "a");
             WriteString("WIFI", "NAME", "c");
             EXPECT_STREQ(ReadString("wifi", "name", "x"), "c");
         }, "; settings\n[wifi]\nname=c;b\n\n"},
        // new keys go to the top of an existing section, newest first
        {"[s]\nold=1\n[t]\nz=0\n", [] {
             WriteString("s", "k1", "1");
             WriteInt("S", "k2", 2);
             WriteInt("t", "z", 9);
         }, "[s]\nk2=2\nk1=1\nold=1\n[t]\nz=9\n"},
        // line breaks in written text cannot add lines
        {"[wifi]\nchannel=36\n", [] {
             WriteString("wifi", "ssid", "net\n[wifi]\nchannel=1");
             WriteString("wifi\n[x]", "k", "v");
             WriteString("wifi", "k\r", "v");
         }, "[wifi]\nssid=net\nchannel=36\n"}};
    for (const auto& [text, edit, want] : cases) EXPECT_EQ(rewrite(text, edit), want) << text;
}

TEST_F(Ini, SectionsAreExactlyBracketedNamesAndKeysAndValuesKeepTheirSpaces) {
    put("t.ini", "[a]\n[x] = 1\nk=v\n[s] ;c\nq=1\n[b]\nk=w\n");
    ASSERT_EQ(OpenIniFile(file("t.ini").c_str()), 1);
    EXPECT_STREQ(ReadString("x", "k", "def"), "def");  // "[x] = 1" is a section, matching none
    EXPECT_STREQ(ReadString("a", "k", "def"), "def");  // and it ends section a
    EXPECT_STREQ(ReadString("s", "q", "def"), "def");
    EXPECT_STREQ(ReadString("B", "K", "def"), "w");
    // Spaces around the equals sign belong to key and value.
    rewrite("[s]\nkey = 5\n", [] {});
    EXPECT_STREQ(ReadString("s", "key", "def"), "def");
    EXPECT_STREQ(ReadString("s", "key ", "def"), " 5");
    EXPECT_EQ(ReadInt("s", "key ", 0), 5);
}

TEST_F(Ini, MissingFileGivesDefaultsAndWritesBuildSectionsInFirstWrittenOrder) {
    EXPECT_EQ(OpenIniFile(file("none.ini").c_str()), 0);
    EXPECT_EQ(OpenIniFile(nullptr), 0);
    EXPECT_EQ(ReadInt("B", "x", 7), 7);
    EXPECT_STREQ(ReadString("B", "x", "d"), "d");
    WriteInt("B", "x", 1);
    WriteInt("A", "y", 2);
    WriteInt("B", "z", 3);
    ASSERT_EQ(WriteIniFile(file("new.ini").c_str()), 1);
    EXPECT_EQ(get("new.ini"), "[B]\nz=3\nx=1\n[A]\ny=2\n");
    EXPECT_EQ(ReadInt("b", "Z", 0), 3);  // the document stays loaded after a save
}

TEST_F(Ini, CarriageReturnsAreDroppedAndLinesOver511CharactersSplit) {
    EXPECT_EQ(rewrite("[s]\r\nk=v\r\n; note\r\n\r\nlast", [] { EXPECT_STREQ(ReadString("s", "k", "x"), "v"); }),
              "[s]\nk=v\n; note\n\nlast\n");
    std::string l600(600, 'a'), l511(511, 'b');
    std::string out = rewrite(l600 + "\n" + l511 + "\n", [] {});
    EXPECT_EQ(out, std::string(511, 'a') + "\n" + std::string(89, 'a') + "\n" + l511 + "\n");
    WriteString("s", "k", std::string(700, 'v').c_str());
    EXPECT_EQ(std::string(ReadString("s", "k", "")), std::string(511, 'v')) << "read buffer bound";
}

TEST_F(Ini, TypedValues) {
    std::string out = rewrite("[n]\nbad=abc\n", [] {
        WriteDouble("n", "d", 1.0);
        WriteLongLongInt("n", "ll", -1234567890123LL);
        EXPECT_DOUBLE_EQ(ReadDouble("n", "none", 0.25), 0.25);
        EXPECT_DOUBLE_EQ(ReadDouble("n", "bad", 3.0), 0.0);
        EXPECT_EQ(ReadLongLongInt("n", "ll", 0), -1234567890123LL);
        EXPECT_EQ(ReadInt("n", "bad", 5), 0);
        WriteString("n", "skip", nullptr);
        WriteString(nullptr, "skip", "v");
    });
    EXPECT_EQ(out, "[n]\nll=-1234567890123\nd=1.0000000000E+00\nbad=abc\n");
}

// Names and values that would not read back as written are refused; the stored text stays.
TEST_F(Ini, TextThatCannotReadBackIsRefused) {
    testing::internal::CaptureStderr();
    std::string out = rewrite("[wifi]\npassword=old\n", [] {
        WriteString("s", "a;b", "1");
        WriteString("s", "a;b", "2"); // the second write finds the first: it once aborted
        WriteString("s", "a=b", "1");
        WriteString("s", "a[0]", "1");
        WriteString("s;t", "k", "1");
        WriteString("wifi", "password", "abc;def");
        WriteString("wifi", "password", "[abc]");
        EXPECT_STREQ(ReadString("wifi", "password", "x"), "old");
        WriteString("wifi", "ssid", "a[b"); // one bracket alone reads back
    });
    EXPECT_NE(testing::internal::GetCapturedStderr().find("value of password refused"),
              std::string::npos);
    EXPECT_EQ(out, "[wifi]\nssid=a[b\npassword=old\n");
    EXPECT_TRUE(IniValueStorable("a[b"));
    EXPECT_FALSE(IniValueStorable("abc;def"));
    EXPECT_FALSE(IniValueStorable("x]y[z"));
}

TEST_F(Ini, TemporaryFilesOfAKilledSaveAreRemoved) {
    put("t.ini", "[s]\nk=1\n");
    put("t.ini.tmp.4242.0", "[s]\nk=");
    put("t.ini.bak", "keep");
    testing::internal::CaptureStderr();
    RemoveIniTemps(file("t.ini").c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(entries(), (std::vector<std::string>{"t.ini", "t.ini.bak"}));
}

// A failed save must leave the old file exactly as it was, and no temporary file behind.
TEST_F(Ini, SaveOverADirectoryFailsAndLeavesNothingBehind) {
    fs::create_directory(dir / "taken.ini");
    WriteString("s", "k", "v");
    EXPECT_EQ(WriteIniFile(file("taken.ini").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(dir / "taken.ini"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"taken.ini"}));
    EXPECT_STREQ(ReadString("s", "k", "gone"), "gone");  // the document was discarded
}

TEST_F(Ini, WriteErrorMidwayKeepsTheOldFile) {
    const std::string old = "[s]\nk=old\n";
    put("t.ini", old);
    ASSERT_EQ(OpenIniFile(file("t.ini").c_str()), 1);
    WriteString("s", "k", "new");
    for (int i = 0; i < 200; ++i) WriteString("fill", ("k" + std::to_string(i)).c_str(),
                                              std::string(100, 'x').c_str());
    // A file size limit makes the write fail part-way, as a full disk would.
    struct sigaction ign{}, prev{};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ign, &prev);
    rlimit lim{}, saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    lim = saved;
    lim.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    int r = WriteIniFile(file("t.ini").c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &prev, nullptr);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(get("t.ini"), old);
    EXPECT_EQ(entries(), (std::vector<std::string>{"t.ini"}));
}

TEST_F(Ini, SaveKeepsTheOldFilePermissions) {
    put("t.ini", "[s]\nk=1\n");
    fs::permissions(file("t.ini"), fs::perms::owner_read | fs::perms::owner_write);
    rewrite(get("t.ini"), [] { WriteInt("s", "k", 2); });
    EXPECT_EQ(fs::status(file("t.ini")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entries(), (std::vector<std::string>{"t.ini"}));
}

}  // namespace
