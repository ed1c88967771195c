// The verb table: one row per reader command. A row names the verb, the exported function it
// calls, its arguments (type, default, help), an example, and a lambda that calls the function
// and hands its outputs to the Call. The framework parses and checks the arguments, opens the
// session, prints the result (text or JSON) and turns it into the exit status.
//
// Rows live in one file per group of commands (verbs_*.cpp), each file holding one VerbGroup:
//
//   const VerbGroup kGroup(40, "Tag memory", {
//       {"read-user-data", "ZRReadUserData", "read bytes of a tag's user memory",
//        {byte_arg("antenna", "1", "antenna byte"), byte_arg("address", "0", "first byte"),
//         byte_arg("count", "8", "bytes to read"), hex_arg("tag-id", 8, nullptr, "tag identifier")},
//        "zrtool --simulate read-user-data --tag-id E200341201020301 --count 4",
//        [](Call& c) {
//            auto* buf = c.buffer();
//            int r = ZRReadUserData(c.handle(), c.byte("antenna"), c.byte("address"), c.byte("count"),
//                                   c.bytes("tag-id"), buf);
//            if (r == ZR_OK) c.out_hex("data", buf, c.byte("count"));
//            return r;
//        }},
//   });
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "json.h"

namespace zr::sim {
class Simulator;
}

namespace zrtool {

enum class Type {
    byte,     // 0-255, decimal or 0x-hex
    integer,  // a signed 32-bit number, decimal or 0x-hex
    hex,      // a byte string in hex: E2003412..., "E2 00 34 12", 0xE2,0x00
    text,     // a string passed as it is
    flag,     // present or not; takes no value
    rest,     // every word after the verb that is not an option (positional)
};

struct Arg {
    const char* name;      // the option without its dashes: "tag-id" for --tag-id
    Type type;
    const char* fallback;  // the default, as typed on the command line; nullptr: required
    const char* help;
    int size = 0;          // hex: the exact number of bytes (0: one or more)
    long long min = INT32_MIN, max = INT32_MAX;  // integer: the accepted range
    const char* needs = nullptr;  // a flag that must be given with this option ("watch")
};

inline Arg byte_arg(const char* name, const char* fallback, const char* help) { return {name, Type::byte, fallback, help}; }
inline Arg int_arg(const char* name, const char* fallback, const char* help, long long min = INT32_MIN,
                   long long max = INT32_MAX, const char* needs = nullptr) {
    return {name, Type::integer, fallback, help, 0, min, max, needs};
}
inline Arg hex_arg(const char* name, int size, const char* fallback, const char* help) {
    return {name, Type::hex, fallback, help, size};
}
inline Arg text_arg(const char* name, const char* fallback, const char* help) { return {name, Type::text, fallback, help}; }
inline Arg flag_arg(const char* name, const char* help) { return {name, Type::flag, "", help}; }
inline Arg rest_arg(const char* name, const char* help) { return {name, Type::rest, "", help}; }

// How a verb's return value is read.
enum class Kind {
    status,     // a result code of the library: success is 1
    send_only,  // the number of bytes sent (a start command): success is a positive count
    report,     // a result code of a receive-only command (sends nothing): success is 1
    tool,       // the verb prints its own output and returns the exit status itself
};

class Call;

struct Verb {
    const char* name;
    const char* function;  // the exported function it calls; "" for verbs of the tool's own
    const char* summary;
    std::vector<Arg> args;
    const char* example;
    std::function<int(Call&)> run;
    Kind kind = Kind::status;
    bool needs_session = true;
    // With --simulate, what the built-in reader is first brought to so that the verb has
    // something to work on (a report waiting for a report verb); nullptr: nothing.
    std::function<void(int handle, zr::sim::Simulator&)> prepare = nullptr;
    // What the preparation does, for the verb's help.
    const char* prepared = nullptr;
};

// One table of verbs; a file defines one at namespace scope and it registers itself.
struct VerbGroup {
    VerbGroup(int order, const char* title, std::vector<Verb> verbs);
    int order;
    const char* title;
    std::vector<Verb> verbs;
};

// Every registered group, in their order.
std::vector<const VerbGroup*> verb_groups();
const Verb* find_verb(const std::string& name);

// A preparation that runs `start` on the session (a start command, a setting) and then gives
// the simulator's answers time to arrive.
std::function<void(int, zr::sim::Simulator&)> started_by(std::function<void(int handle)> start);

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Success of a value of the given kind, and how it reads: "1 ok", "-4 no valid reply",
// "8 bytes sent".
bool succeeded(int result, Kind kind);
std::string describe(int result, Kind kind);
// The meaning alone: "ok", "no valid reply", "8 bytes sent", "no report waiting".
std::string meaning(int result, Kind kind);
// Adds "result": 1, "text": "ok", "success": true to the object `j`.
void put_result(Json& j, int result, Kind kind);
std::string hex(const std::uint8_t* p, std::size_t n);
// The first `n` bytes without their trailing zeros: for outputs whose length the library does
// not tell (the report calls that copy a frame's data without its LEN) read from a zeroed buffer.
std::string hex_trimmed(const std::uint8_t* p, std::size_t n);

// Ctrl-C ends the tool at once (removing its temporary settings file), unless a verb that
// runs until then (inventory --watch) has set `catch_interrupts`: then it sets `interrupted`,
// which the verb polls to finish cleanly; a second Ctrl-C ends the tool all the same.
extern std::atomic<bool> interrupted;
extern std::atomic<bool> catch_interrupts;

// Parsed argument values and outputs of one verb run.
class Call {
public:
    struct Value {
        long long number = 0;
        std::vector<std::uint8_t> bytes;
        std::string text;
        bool given = false;  // on the command line (not the default)
    };

    Call(const Verb& verb, std::map<std::string, Value> values, std::vector<std::string> rest, int handle, bool json)
        : verb_(verb), values_(std::move(values)), rest_(std::move(rest)), handle_(handle), json_(json) {}

    const Verb& verb() const { return verb_; }
    int handle() const { return handle_; }
    bool json() const { return json_; }
    // The section of the settings file the session was opened with.
    const std::string& section() const { return section_; }
    void set_section(std::string s) { section_ = std::move(s); }

    int byte(const char* name) const { return static_cast<int>(value(name, Type::byte).number); }
    int integer(const char* name) const { return static_cast<int>(value(name, Type::integer).number); }
    // A hex argument's bytes (never null once given: a given hex argument holds at least one
    // byte; one with an empty default that was not given holds none) and their number. The bytes are the call's own copy, so functions that take them through a
    // non-const pointer may have them too.
    unsigned char* bytes(const char* name) const {
        return const_cast<unsigned char*>(value(name, Type::hex).bytes.data());
    }
    int size(const char* name) const { return static_cast<int>(value(name, Type::hex).bytes.size()); }
    const std::string& text(const char* name) const { return value(name, Type::text).text; }
    bool flag(const char* name) const { return value(name, Type::flag).number != 0; }
    bool given(const char* name) const;
    const std::vector<std::string>& rest() const { return rest_; }

    // 256 zeroed bytes owned by the call: larger than any output of the library, so a
    // verb never has to size its buffers by the arguments it passes.
    unsigned char* buffer();

    // Outputs printed with the result: "key: value" lines, or members of "outputs" in JSON.
    void out(const std::string& key, Json value) { outputs_.set(key, std::move(value)); }
    void out_hex(const std::string& key, const unsigned char* p, std::size_t n) { out(key, hex(p, n)); }
    const Json& outputs() const { return outputs_; }

private:
    const Value& value(const char* name, Type type) const;

    const Verb& verb_;
    std::map<std::string, Value> values_;
    std::vector<std::string> rest_;
    int handle_;
    bool json_;
    std::string section_;
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    Json outputs_ = Json::object();
};

}  // namespace zrtool
