// The tools' JSON writer (tools/common/json.h) against inputs that break naive writers. Every
// document is read back by Python's strict JSON reader, which also decodes the escapes: the
// characters it gets must be the ones each case promises, and the document must be ASCII.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/json.h"

namespace {

struct Case {
    const char* what;
    std::string input;
    std::vector<unsigned> chars;  // what a JSON reader gets back, as code points
};

const std::vector<Case>& cases() {
    using namespace std::string_literals;
    static const std::vector<Case> table = {
        {"plain ASCII", "abc", {'a', 'b', 'c'}},
        {"empty", "", {}},
        {"quote and backslash", "a\"b\\c", {'a', '"', 'b', '\\', 'c'}},
        {"NUL in the middle", "a\0b"s, {'a', 0, 'b'}},
        {"control characters", "\n\r\t\x01\x1f\x7f", {'\n', '\r', '\t', 1, 0x1F, 0x7F}},
        {"two-byte UTF-8 kept", "caf\xC3\xA9", {'c', 'a', 'f', 0xE9}},
        {"three-byte UTF-8 kept", "\xE2\x82\xAC", {0x20AC}},
        {"four-byte UTF-8 as a surrogate pair", "\xF0\x9F\x98\x80", {0x1F600}},
        {"highest code point", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
        {"lone byte >= 0x80 (Latin-1)", "\xFF\xE9.ini", {0xFF, 0xE9, '.', 'i', 'n', 'i'}},
        {"continuation byte alone", "\x80x", {0x80, 'x'}},
        {"truncated sequence at the end", "ok\xE2\x82", {'o', 'k', 0xE2, 0x82}},
        {"truncated sequence before ASCII", "\xC3x", {0xC3, 'x'}},
        {"overlong slash", "\xC0\xAF", {0xC0, 0xAF}},
        {"overlong three-byte NUL", "\xE0\x80\x80", {0xE0, 0x80, 0x80}},
        {"encoded surrogate", "\xED\xA0\x80", {0xED, 0xA0, 0x80}},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},
        {"bad byte then a good sequence", "\xE2\xC3\xA9", {0xE2, 0xE9}},
        {"escape-looking text stays text", "\\u0041", {'\\', 'u', '0', '0', '4', '1'}},
    };
    return table;
}

// One document per case, each holding the input as a key, a value and an array item.
std::string document(const std::string& input) {
    auto j = zrjson::Json::object();
    j.set(input, input);
    j.set("list", zrjson::Json::array().push(input).push(1).push(zrjson::Json()).push(true));
    return j.dump();
}

// Python's reading of each line: the code points of the key, or "ERROR ..." when it is not JSON.
std::vector<std::string> read_back(const std::vector<std::string>& docs) {
    char path[] = "/tmp/zr_json_XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return {};
    ::close(fd);
    {
        std::ofstream f(path, std::ios::binary);
        for (const auto& d : docs) f << d << '\n';
    }
    const std::string script =
        "import json,sys\n"
        "for line in open(sys.argv[1],'rb').read().split(b'\\n')[:-1]:\n"
        "  try:\n"
        "    line.decode('ascii')\n"
        "    d=json.loads(line.decode('utf-8'),strict=True)\n"
        "    k=[k for k in d if k!='list']\n"
        "    k=k[0] if k else 'list'\n"
        "    assert d.get(k,d['list'][0])==k and d['list'][0]==k and d['list'][1:]==[1,None,True], 'values differ'\n"
        "    print(' '.join('%x'%ord(c) for c in k))\n"
        "  except Exception as e: print('ERROR',repr(e))\n";
    // The script goes through the environment: no shell quoting of its quotes.
    ::setenv("ZR_PY", script.c_str(), 1);
    std::vector<std::string> lines;
    FILE* p = ::popen(("python3 -c \"$ZR_PY\" " + std::string(path)).c_str(), "r");
    if (p) {
        std::string all;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) all.append(buf, n);
        ::pclose(p);
        std::istringstream in(all);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
    }
    std::remove(path);
    return lines;
}

TEST(JsonWriter, EveryDocumentIsStrictAsciiJsonAndReadsBackAsPromised) {
    std::vector<std::string> docs;
    for (const auto& c : cases()) docs.push_back(document(c.input));
    const auto got = read_back(docs);
    ASSERT_EQ(got.size(), docs.size()) << "python3 did not read every document";
    for (std::size_t i = 0; i < docs.size(); ++i) {
        const auto& c = cases()[i];
        for (unsigned char ch : docs[i]) ASSERT_LT(ch, 0x80) << c.what << ": " << docs[i];
        std::string want;
        for (unsigned cp : c.chars) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%s%x", want.empty() ? "" : " ", cp);
            want += hex;
        }
        // An empty key reads back as an empty line.
        EXPECT_EQ(got[i], want) << c.what << ": " << docs[i];
    }
}

TEST(JsonWriter, QuotedIsTheSameWriter) {
    for (const auto& c : cases()) {
        std::string appended = "x";
        zrjson::append_quoted(appended, c.input);
        EXPECT_EQ("x" + zrjson::quoted(c.input), appended) << c.what;
        EXPECT_EQ(zrjson::Json(c.input).dump(), zrjson::quoted(c.input)) << c.what;
    }
}

}  // namespace
