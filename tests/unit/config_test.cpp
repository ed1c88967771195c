// Profile strings (the INI rules) and the settings the library reads at open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "core/config.h"
#include "core/session.h"
#include "fake_platform.h"
#include "platform/ini.h"
#include "zr.h"

using namespace zr::test;
namespace ini = zr::platform::ini;

TEST(Ini, GetFollowsTheProfileRules) {
    const std::string text =
        "; a comment\r\n"
        "[Other]\r\nZR_PORT_TYPE=COM\r\n"
        "  [ Reader ]  \r\n"
        "  zr_port_type  =   TCP   \r\n"
        "ZR_HOST_NAME=\"192.0.2.1\"\r\n"
        "EMPTY=\r\n"
        "NOEQUALS\r\n"
        "[reader]\nZR_LATE=in a second section of the same name\n";
    struct Case {
        const char *section, *key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"reader", "ZR_PORT_TYPE", "TCP"},
        {"READER", "Zr_Port_Type", "TCP"},
        {"other", "zr_port_type", "COM"},
        {"reader", "ZR_HOST_NAME", "192.0.2.1"},
        {"reader", "EMPTY", ""},
        {"reader", "MISSING", std::nullopt},
        {"missing", "ZR_PORT_TYPE", std::nullopt},
        {"reader", "NOEQUALS", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ini::get(text, c.section, c.key), c.value) << c.section << "/" << c.key;
}

TEST(Ini, SetReplacesInPlaceAndKeepsEverythingElse) {
    const std::string before = "; keep me\r\n[a]\r\nX=1 ; old\r\nY=2\r\n\r\n[b]\r\nZ=3\r\n";
    EXPECT_EQ(ini::set(before, "A", "x", "9"), "; keep me\r\n[a]\r\nx=9 ; old\r\nY=2\r\n\r\n[b]\r\nZ=3\r\n");
    EXPECT_EQ(ini::set(before, "a", "W", "4"), "; keep me\r\n[a]\r\nX=1 ; old\r\nY=2\r\nW=4\r\n\r\n[b]\r\nZ=3\r\n");
    EXPECT_EQ(ini::set(before, "c", "V", "5"), before + "[c]\r\nV=5\r\n");
    EXPECT_EQ(ini::set("", "s", "k", "v"), "[s]\nk=v\n");
    EXPECT_EQ(ini::set("[s]\nk=1", "s", "k", "2"), "[s]\nk=2");
    EXPECT_EQ(ini::set("[s]\nj=1", "s", "k", "2"), "[s]\nj=1\nk=2\n");
    // What is written reads back.
    auto text = ini::set(before, "b", "Z", "\"quoted\"");
    EXPECT_EQ(ini::get(text, "b", "Z"), "quoted");
}

TEST(Ini, SetKeepsTheCommentBesideARewrittenValue) {
    struct Case {
        const char *line, *rewritten;
    };
    const Case cases[] = {
        {"ZR_HOST_NAME=10.0.0.5   ; the dock reader", "ZR_HOST_NAME=10.0.0.9   ; the dock reader"},
        {"ZR_HOST_NAME = 10.0.0.5\t; tab", "ZR_HOST_NAME=10.0.0.9\t; tab"},
        {"ZR_HOST_NAME=10.0.0.5;glued to the value, goes with it", "ZR_HOST_NAME=10.0.0.9"},
        {"ZR_HOST_NAME=;only a note", "ZR_HOST_NAME=10.0.0.9;only a note"},
        {"ZR_HOST_NAME=   ; blanks then a note", "ZR_HOST_NAME=10.0.0.9; blanks then a note"},
        {"ZR_HOST_NAME=a;b ; c ; d", "ZR_HOST_NAME=10.0.0.9 ; c ; d"},
        {"ZR_HOST_NAME=10.0.0.5", "ZR_HOST_NAME=10.0.0.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        for (const char* eol : {"\r\n", "\n", ""}) {
            const std::string before = std::string("[r]\n") + c.line + eol + (*eol ? "X=1\n" : "");
            EXPECT_EQ(ini::set(before, "r", "ZR_HOST_NAME", "10.0.0.9"),
                      std::string("[r]\n") + c.rewritten + eol + (*eol ? "X=1\n" : ""));
        }
    }
}

TEST(Ini, AUtf8ByteOrderMarkIsReadPastAndKept) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(ini::get(bom + "[s]\nk=1\n", "s", "k"), "1");
    EXPECT_EQ(ini::set(bom + "[s]\nk=1\n", "s", "k", "2"), bom + "[s]\nk=2\n");
    EXPECT_EQ(ini::set(bom, "s", "k", "2"), bom + "[s]\nk=2\n");
}

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<zr::platform::ProfileEntry>;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// A directory of its own per test process, gone afterwards.
struct TempDir {
    fs::path dir = fs::temp_directory_path() / ("zr-ini-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(dir); }
    ~TempDir() { fs::remove_all(dir); }
    // Every name in the directory with the bytes it reads as ("<other>": not a regular file).
    std::map<std::string, std::string> contents() const {
        std::map<std::string, std::string> m;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir))
            m[e.path().filename().string()] = fs::is_regular_file(e.path(), ec) ? slurp(e.path()) : "<other>";
        return m;
    }
};

}  // namespace

TEST(Ini, PosixWriteCreatesAndRewritesTheFileWhole) {
    TempDir t;
    auto path = (t.dir / "new.ini").string();
    auto& os = zr::platform::native();
    EXPECT_EQ(os.read_profile(path, "s", "k", "0"), "0");
    ASSERT_TRUE(os.write_profile(path, "s", Entries{{"k", "v1"}}));
    ASSERT_TRUE(os.write_profile(path, "s", Entries{{"k", "v2"}, {"j", "w"}}));
    EXPECT_EQ(slurp(path), "[s]\nk=v2\nj=w\n");
    // Only the file itself is left: the temporary copy was renamed over it.
    EXPECT_EQ(t.contents().size(), 1u);
}

TEST(Ini, PosixWriteKeepsLinksByteOrderMarkOwnerAndMode) {
    TempDir t;
    auto& os = zr::platform::native();
    const auto real = t.dir / "real.ini", link = t.dir / "link.ini";
    spit(real, "\xEF\xBB\xBF[s]\r\nk=1\r\n");
    fs::create_symlink("real.ini", link);
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;  // only root can give a file away
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 1235), 0);
    }

    EXPECT_EQ(os.read_profile(link, "s", "k", "-"), "1");
    ASSERT_TRUE(os.write_profile(link, "s", Entries{{"k", "2"}, {"j", "3"}}));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(real), "\xEF\xBB\xBF[s]\r\nk=2\r\nj=3\r\n");
    struct stat st{};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 1235u);
    }

    // A link to a file not there yet makes the file and stays a link.
    const auto dangling = t.dir / "dangling.ini";
    fs::create_symlink("made.ini", dangling);
    ASSERT_TRUE(os.write_profile(dangling, "s", Entries{{"k", "v"}}));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(slurp(t.dir / "made.ini"), "[s]\nk=v\n");
    EXPECT_EQ(t.contents().size(), 4u) << "no temporary file is left";
}

TEST(Ini, PosixWriteRemovesTheFilesAnInterruptedWriteLeft) {
    TempDir t;
    const auto path = t.dir / "reader.ini";
    spit(path, "[r]\nZR_HOST_NAME=10.0.0.5\n");
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        bool removed;  // else left as it was
        std::function<void(const fs::path&)> make = [](const fs::path& p) { spit(p, "half a file"); };
    };
    int busy = -1;
    const Case cases[] = {
        {"reader.ini.zr-tmp-Ab3dE9", true},
        {"reader.ini.zr-tmp-000000", true, [](const fs::path& p) { spit(p, ""); }},
        {"reader.ini.backup", false},  // as long as a mkostemp suffix
        {"reader.ini.zr-tmp-Ab3dE", false},
        {"reader.ini.zr-tmp-Ab3dE90", false},
        {"reader.ini.zr-tmp-Ab3d-9", false},
        {"other.ini.zr-tmp-Ab3dE9", false},
        {"READER.INI.zr-tmp-Ab3dE9", false},
        {"reader.ini.zr-tmp-Subdir", false, [](const fs::path& p) { fs::create_directory(p); }},
        {"reader.ini.zr-tmp-Link00", false, [](const fs::path& p) { fs::create_symlink("other.ini.zr-tmp-Ab3dE9", p); }},
        {"reader.ini.zr-tmp-Fifo00", false, [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }},
        {"reader.ini.zr-tmp-Busy00", false,  // a write under way in another process holds it locked
         [&](const fs::path& p) {
             spit(p, "being written");
             busy = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(busy, LOCK_EX), 0);
         }},
        {"reader.ini.zr-tmp-Theirs", false,  // another user's: only root can make one
         [&](const fs::path& p) {
             spit(p, "theirs");
             ASSERT_EQ(::chown(p.c_str(), 1234, 1234), 0);
         }},
    };
    for (const auto& c : cases)
        if (root || std::string_view(c.name) != "reader.ini.zr-tmp-Theirs") c.make(t.dir / c.name);
    auto expected = t.contents();
    for (const auto& c : cases)
        if (c.removed) expected.erase(c.name);
    expected["reader.ini"] = "[r]\nZR_HOST_NAME=10.0.0.9\n";

    ASSERT_TRUE(zr::platform::native().write_profile(path, "r", Entries{{"ZR_HOST_NAME", "10.0.0.9"}}));
    ::close(busy);
    EXPECT_EQ(t.contents(), expected);
}

TEST(Ini, PosixWriteThatFailsLeavesEverythingAsItWas) {
    struct Case {
        const char* name;
        std::function<std::string(const fs::path& dir)> make;  // returns the path to write
    };
    const Case cases[] = {
        {"a directory", [](const fs::path& d) { return (d / "sub").string(); }},
        {"a missing directory", [](const fs::path& d) { return (d / "none" / "x.ini").string(); }},
        {"UTF-16, which the edit would corrupt", [](const fs::path& d) {
             spit(d / "wide.ini", std::string("\xFF\xFE[\0s\0]\0", 8));
             return (d / "wide.ini").string();
         }},
        {"UTF-16 without a byte-order mark", [](const fs::path& d) {
             spit(d / "bare.ini", std::string("[\0s\0]\0\n\0", 8));
             return (d / "bare.ini").string();
         }},
        {"a FIFO", [](const fs::path& d) {
             ::mkfifo((d / "fifo").c_str(), 0644);
             return (d / "fifo").string();
         }},
        {"a loop of links", [](const fs::path& d) {
             fs::create_symlink("b.ini", d / "a.ini");
             fs::create_symlink("a.ini", d / "b.ini");
             return (d / "a.ini").string();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        fs::create_directories(t.dir / "sub");
        spit(t.dir / "other.ini", "[s]\nk=1\n");
        const auto path = c.make(t.dir);
        const auto before = t.contents();
        EXPECT_FALSE(zr::platform::native().write_profile(path, "s", Entries{{"k", "2"}, {"j", "3"}}));
        EXPECT_EQ(t.contents(), before);
    }
}

TEST(Ini, OpenOfAFileInNo8BitEncodingSaysSo) {
    // UTF-16 of "[r]\nZR_PORT_TYPE=TCP\n..." in either byte order.
    auto utf16 = [](std::string_view text, bool big_endian) {
        std::string out;
        for (char c : text) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    const std::string ini = "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=192.0.2.1\n";
    struct Case {
        const char* name;
        std::string bytes;
        int result;
        const char* why;  // after the file's name; nullptr: the cause before this check
    };
    const Case cases[] = {
        {"UTF-16LE with a byte-order mark", "\xFF\xFE" + utf16(ini, false), 0, " (UTF-16?)"},
        {"UTF-16BE with a byte-order mark", "\xFE\xFF" + utf16(ini, true), 0, " (UTF-16?)"},
        {"UTF-16LE without one", utf16(ini, false), 0, " (UTF-16?)"},
        {"UTF-16BE without one", utf16(ini, true), 0, " (UTF-16?)"},
        {"NUL bytes in the middle", "[r]\nZR_PORT_TYPE=" + std::string(600, '\0') + "TCP\n", 0,
         " (it holds NUL bytes)"},
        {"NUL bytes after an empty value", std::string("[r]\nZR_PORT_TYPE=\n\0\0\0\nZR_COM_NUMBER=C\nZR_HOST_NAME=x\n", 53),
         ZR_ERR_CONFIG, " (it holds NUL bytes)"},
        {"8-bit text, for contrast", "[r]\nZR_PORT_TYPE=TPC\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=x\n", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        const auto path = (t.dir / "reader.ini").string();
        spit(path, c.bytes);
        int handle = -1;
        EXPECT_EQ(ZROpen(&handle, path.c_str(), "r"), c.result);
        const std::string expected =
            c.why ? path + " is not a text file in an 8-bit encoding" + c.why + ": save it as ANSI/UTF-8"
                  : "ZR_PORT_TYPE 'TPC' is neither COM nor TCP";
        EXPECT_EQ(ZRLastCause(), expected);
    }
}

namespace {

struct OpenFixture : ::testing::Test {
    FakePlatform fake;
    int handle = -1;
    int open(const std::string& text) {
        fake.files["/f.ini"] = text;
        return ZROpen(&handle, "/f.ini", "r");
    }
    const zr::core::Settings& settings() { return *zr::core::Library::instance().settings(); }
};

const char* kTcp = "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=192.0.2.1\n";

}  // namespace

TEST_F(OpenFixture, ValuesAreReadWithCommentsBlanksAndClamps) {
    fake.tcp("192.0.2.1");
    ASSERT_EQ(open(std::string(kTcp) +
                   "ZR_SCAN_TRIES = 3 ; three\nZR_READ_TRIES=300\nZR_WRITE_TRIES=1\nZR_ANTENNAS=0\n"
                   "ZR_ANTENNA_CONCTL=\t2\nZR_REPEAT_DATAS=-1\nZR_READ_TIMEOUT=7x\nZR_LOG_FILE_NAME= a b.log\n"
                   "[ESPECIAL FLAG]\nZR_ADDERIESS=9\nZR_LENGTH=12\nZR_MATCH_DATA=AB CDEFGHIJ\n"),
              ZR_OK);
    const auto& s = settings();
    EXPECT_EQ(s.scan_tries, 3);
    EXPECT_EQ(s.read_tries, 44);  // the low 8 bits of 300
    EXPECT_EQ(s.write_tries, 2);
    EXPECT_EQ(s.antennas, 1);
    EXPECT_EQ(s.antenna_control, 2);
    EXPECT_EQ(s.repeat_datas, 0xFF);
    EXPECT_EQ(s.read_timeout, 7);
    EXPECT_EQ(s.log_file_name, "ab.log");
    EXPECT_EQ(s.address, 9);
    EXPECT_EQ(s.length, 12);
    EXPECT_EQ(std::string(s.match_data.begin(), s.match_data.end()), "ABCDEFGH");
}

TEST_F(OpenFixture, MatchDataTakesLengthCharactersAndNothingWhenMissing) {
    fake.tcp("192.0.2.1");
    ASSERT_EQ(open(std::string(kTcp) + "[ESPECIAL FLAG]\nZR_LENGTH=3\nZR_MATCH_DATA=XYZW\n"), ZR_OK);
    EXPECT_EQ(settings().match_data, (std::array<std::uint8_t, 8>{'X', 'Y', 'Z', 0, 0, 0, 0, 0}));
    ASSERT_EQ(ZRClose(&handle), ZR_OK);
    ASSERT_EQ(open(std::string(kTcp) + "[ESPECIAL FLAG]\nZR_LENGTH=8\n"), ZR_OK);
    EXPECT_EQ(settings().match_data, (std::array<std::uint8_t, 8>{}));
    EXPECT_EQ(settings().read_tries, 2) << "a missing key reads as 0, clamped";
}

TEST_F(OpenFixture, OpenResults) {
    fake.tcp("192.0.2.1");
    fake.serial("COM1");
    struct Case {
        const char* name;
        std::string ini;
        int result;
    };
    const Case cases[] = {
        {"empty port type", "[r]\nZR_PORT_TYPE=\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=192.0.2.1\n", ZR_ERR_CONFIG},
        {"blank host", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=   \n", ZR_ERR_CONFIG},
        {"UDP", "[r]\nZR_PORT_TYPE=UDP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=192.0.2.1\n", 0},
        {"missing file reads 0 everywhere", "", 0},
        {"binary garbage", std::string("\x00\xFF[\x01=\n\x80\x81", 8), 0},
        {"very long line", "[r]\nZR_PORT_TYPE=" + std::string(100000, 'T') + "\n", 0},
        {"host name not dotted", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=C\nZR_HOST_NAME=reader.local\n", ZR_ERR_OPEN_PORT},
        {"host 0.0.0.0", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=C\nZR_HOST_NAME=0.0.0.0\n", ZR_ERR_OPEN_PORT},
        {"host 255.255.255.255", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=C\nZR_HOST_NAME=255.255.255.255\n", ZR_ERR_OPEN_PORT},
        {"host out of range", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=C\nZR_HOST_NAME=192.0.2.256\n", ZR_ERR_OPEN_PORT},
        {"no such serial port", "[r]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=COM9\nZR_HOST_NAME=x\n", ZR_ERR_OPEN_PORT},
        {"host with blanks inside", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=C\nZR_HOST_NAME=192. 0.2 .1\n", ZR_OK},
        {"serial", "[r]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=x\n", ZR_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        handle = -1;
        if (c.ini.empty()) fake.files.erase("/f.ini");
        else fake.files["/f.ini"] = c.ini;
        EXPECT_EQ(ZROpen(&handle, "/f.ini", "r"), c.result);
        if (c.result == ZR_OK) {
            EXPECT_NE(handle, -1);
            EXPECT_NE(handle, 0);
            EXPECT_EQ(ZRClose(&handle), ZR_OK);
        }
        EXPECT_EQ(handle, -1);
    }
}

TEST_F(OpenFixture, ArgumentsAndHandleStates) {
    fake.tcp("192.0.2.1");
    fake.files["/f.ini"] = kTcp;
    EXPECT_EQ(ZROpen(nullptr, "/f.ini", "r"), ZR_ERR_ARGUMENT);
    EXPECT_EQ(ZROpen(&handle, nullptr, "r"), ZR_ERR_ARGUMENT);
    EXPECT_EQ(ZROpen(&handle, "/f.ini", nullptr), ZR_ERR_ARGUMENT);
    EXPECT_EQ(ZRClose(nullptr), ZR_ERR_ARGUMENT);
    int zero = 0;
    EXPECT_EQ(ZROpen(&zero, "/f.ini", "r"), ZR_ERR_ALREADY_OPEN);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(ZRClose(&handle), ZR_ERR_NO_SESSION);
    ASSERT_EQ(ZROpen(&handle, "/f.ini", "r"), ZR_OK);
    int again = handle;
    EXPECT_EQ(ZROpen(&again, "/f.ini", "r"), ZR_ERR_ALREADY_OPEN);
    int stale = handle;
    EXPECT_EQ(ZRClose(&handle), ZR_OK);
    EXPECT_EQ(ZRClose(&handle), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRClose(&stale), ZR_ERR_NO_SESSION);
}

TEST_F(OpenFixture, TcpConnectResults) {
    fake.files["/f.ini"] = kTcp;
    auto& peer = fake.tcp("192.0.2.1");
    struct Case {
        const char* name;
        bool refuse, never;
        int result;
        milliseconds took;
    };
    const Case cases[] = {
        {"refused: at once", true, false, ZR_ERR_CONNECT, milliseconds(0)},
        {"never completes: 10 s", false, true, ZR_ERR_CONNECT, milliseconds(10000)},
        {"completes", false, false, ZR_OK, milliseconds(0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.refuse = c.refuse;
        peer.never_connects = c.never;
        handle = -1;
        auto t0 = fake.now();
        EXPECT_EQ(ZROpen(&handle, "/f.ini", "r"), c.result);
        EXPECT_EQ(fake.now() - t0, c.took);
        if (c.result != ZR_OK) {
            EXPECT_EQ(handle, -1);
            EXPECT_TRUE(peer.closed) << "the half-open socket is closed";
        }
    }
}

TEST_F(OpenFixture, CloseResults) {
    auto& tcp = fake.tcp("192.0.2.1");
    auto& com = fake.serial("COM1");
    const std::string serial_ini = "[r]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=x\n";

    // TCP, socket not writable: 242, the session stays open and can be closed later.
    ASSERT_EQ(open(kTcp), ZR_OK);
    tcp.not_writable = true;
    EXPECT_EQ(ZRClose(&handle), ZR_CLOSE_FAILED);
    EXPECT_NE(handle, -1);
    tcp.not_writable = false;
    EXPECT_EQ(ZRClose(&handle), ZR_OK);

    // TCP, the socket close fails: 242, but the link is gone and so is the handle.
    ASSERT_EQ(open(kTcp), ZR_OK);
    tcp.close_fails = true;
    int kept = handle;
    EXPECT_EQ(ZRClose(&handle), ZR_CLOSE_FAILED);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(ZRReset(kept), ZR_ERR_NO_SESSION);

    // Serial, CloseHandle fails: 242 and the handle stays as it was.
    ASSERT_EQ(open(serial_ini), ZR_OK);
    com.close_fails = true;
    EXPECT_EQ(ZRClose(&handle), ZR_CLOSE_FAILED);
    EXPECT_NE(handle, -1);
    com.close_fails = false;
    EXPECT_EQ(ZRClose(&handle), ZR_OK);
}

TEST_F(OpenFixture, EachSessionKeepsItsOwnLink) {
    auto& tcp = fake.tcp("192.0.2.1");
    auto& com = fake.serial("COM1");
    int t = -1, s = -1;
    fake.files["/f.ini"] = std::string(kTcp) + "[s]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=x\n";
    ASSERT_EQ(ZROpen(&t, "/f.ini", "r"), ZR_OK);
    ASSERT_EQ(ZROpen(&s, "/f.ini", "s"), ZR_OK);
    EXPECT_NE(t, s);
    ZRReset(t);
    EXPECT_EQ(tcp.requests.size(), 1u);
    EXPECT_TRUE(com.written.empty()) << "the TCP handle still uses TCP after a serial open";
    ZRReset(s);
    EXPECT_EQ(com.requests.size(), 1u);
    EXPECT_EQ(ZRClose(&t), ZR_OK);
    EXPECT_EQ(ZRClose(&s), ZR_OK);
}
