// EPC inventory: the start and report verbs, `inventory` (start, then reports until none
// come; --watch keeps a live table of the tags seen), and the tour's steps that need tags.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>
#include <vector>

#include "demo.h"
#include "platform.h"
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::system_clock;

// An EPC report as ZREpcCodeReport hands it over: LEN high, LEN low, 0x81, status, data.
Bytes report_data(const unsigned char* buffer) {
    const int len = buffer[0] * 256 + buffer[1];
    if (len < 2 || len > 252) return {};
    return Bytes(buffer + 4, buffer + 2 + len);
}

// How one inventory round went: what the start returned, the reports collected, and the
// result that ended the collection (0 when the reader had no more to say).
struct Round {
    int start = 0;
    std::vector<Bytes> reports;
    int end = 0;
    bool lost = false;  // the session's link is known lost after the round
    std::string cause;  // the library's words for the failure (ZRLastCause), when not ok
    bool ok() const { return start > 0 && end == 0 && !lost; }
};

// What to say about a lost link: the library's cause when it tells of the loss, else only
// that (the last failure may be an empty report call that merely came after it).
std::string lost_text(const std::string& cause) {
    return cause.rfind("link lost", 0) == 0 ? cause : "link lost";
}

// The reader answers a start with one report per tag; a report call takes only what has
// arrived, so a few empty calls a short pause apart mean "no more".
constexpr int kQuietCalls = 3;
constexpr auto kQuietPause = std::chrono::milliseconds(50);

void collect_round(int handle, int antenna, int option1, int option2, Round& round) {
    round.start = ZRIdentifyEpcCode(handle, antenna, option1, option2);
    if (round.start <= 0) return;
    unsigned char buffer[256] = {};
    for (int quiet = 0; quiet < kQuietCalls && !interrupted;) {
        const int r = ZREpcCodeReport(handle, buffer);
        if (r == ZR_OK) {
            round.reports.push_back(report_data(buffer));
            quiet = 0;
        } else if (r == 0) {
            ++quiet;
            std::this_thread::sleep_for(kQuietPause);
        } else {
            round.end = r;  // an error ends the round: a mapped status, -4, -1
            break;
        }
    }
}

Round inventory_round(int handle, int antenna, int option1, int option2) {
    Round round;
    collect_round(handle, antenna, option1, option2, round);
    // Tags counted from a link that has just gone are no inventory to rely on: the loss is
    // reported, whatever came before it.
    round.lost = ZRLinkState(handle) == 0;
    if (!round.ok()) round.cause = round.lost ? lost_text(ZRLastCause()) : ZRLastCause();
    return round;
}

std::string clock_text(Clock::time_point t) {
    std::tm tm{};
    os::local_time(Clock::to_time_t(t), tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

struct Seen {
    long long times = 0;
    Clock::time_point last;
};

// The watch table: redrawn in place on a terminal; elsewhere one plain line per sighting.
class Watch {
public:
    Watch(bool json) : json_(json), terminal_(!json && os::is_terminal(1)) {}

    void add(const Round& round, int number) {
        const auto now = Clock::now();
        auto tags = Json::array();
        for (const auto& epc : round.reports) {
            auto& s = seen_[epc];
            ++s.times;
            s.last = now;
            if (json_) {
                auto j = Json::object();
                j.set("epc", hex(epc.data(), epc.size()));
                j.set("seen", s.times);
                j.set("last_seen", clock_text(now));
                tags.push(j);
            } else if (!terminal_) {
                std::printf("%s  %s  seen %lld\n", clock_text(now).c_str(), hex(epc.data(), epc.size()).c_str(), s.times);
            }
        }
        if (json_) {
            // One document per round (JSON Lines), shaped like the single inventory's.
            const bool started = round.start > 0;
            auto j = Json::object();
            j.set("verb", "inventory");
            j.set("round", number);
            j.set("function", started ? "ZREpcCodeReport" : "ZRIdentifyEpcCode");
            j.set("result", started ? round.end : round.start);
            j.set("text", started ? meaning(round.end, Kind::report) : meaning(round.start, Kind::send_only));
            j.set("success", round.ok());
            if (!round.ok()) j.set("cause", round.cause);
            j.set("tags", tags);
            j.set("tags_seen", static_cast<long long>(seen_.size()));
            std::printf("%s\n", j.dump().c_str());
        }
        if (!json_ && !terminal_ && !round.ok() && !round.lost)
            std::printf("%s  round %d failed: %s\n", clock_text(now).c_str(), number, round.cause.c_str());
        if (terminal_) draw(round, number);
        std::fflush(stdout);
    }

    // A line about the link: "link_lost", "reconnect_failed" (with the result), "reconnected".
    void event(const char* name, const std::string& cause, int result = ZR_OK) {
        const auto now = Clock::now();
        if (json_) {
            auto j = Json::object();
            j.set("verb", "inventory");
            j.set("event", name);
            j.set("time", clock_text(now));
            if (result != ZR_OK) j.set("result", result);
            if (!cause.empty()) j.set("cause", cause);
            std::printf("%s\n", j.dump().c_str());
        } else {
            std::string what = name;
            std::replace(what.begin(), what.end(), '_', ' ');
            if (result != ZR_OK) what += " (" + describe(result, Kind::status) + ")";
            // "link lost: the reader closed the connection", not "link lost: link lost: ...".
            if (cause.rfind(what, 0) == 0) what = cause;
            else if (!cause.empty()) what += ": " + cause;
            std::printf("%s  %s\n", clock_text(now).c_str(), what.c_str());
        }
        std::fflush(stdout);
    }

private:
    void draw(const Round& round, int number) {
        std::printf("\033[H\033[2J");
        std::printf("zrtool inventory --watch: round %d, %zu tags (Ctrl-C ends)\n", number, seen_.size());
        if (!round.ok())
            std::printf("last round: start %s, end %s (%s)\n", describe(round.start, Kind::send_only).c_str(),
                        describe(round.end, Kind::report).c_str(), round.cause.c_str());
        std::printf("\n%-40s %10s  %s\n", "EPC", "seen", "last seen");
        for (const auto& [epc, s] : seen_)
            std::printf("%-40s %10lld  %s\n", hex(epc.data(), epc.size()).c_str(), s.times, clock_text(s.last).c_str());
    }

    bool json_, terminal_;
    std::map<Bytes, Seen> seen_;
};

// Sleeps `d`, or less when Ctrl-C comes.
void pause_for(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (!interrupted && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(50), end - std::chrono::steady_clock::now()));
}

// Reopens the session's link until it comes back or Ctrl-C: the first try 0.2 s after the
// loss, the pause doubling up to 0.6 s, so that a reader that returns is reporting tags again
// within a second (a round takes a few hundred ms).
bool reopen(int handle, Watch& watch) {
    auto pause = std::chrono::milliseconds(200);
    for (;;) {
        pause_for(pause);
        if (interrupted) return false;
        const int r = ZRReconnect(handle);
        if (r == ZR_OK) return true;
        watch.event("reconnect_failed", ZRLastCause(), r);
        pause = std::min(pause * 2, std::chrono::milliseconds(600));
    }
}

int inventory(Call& c) {
    const int antenna = c.byte("antenna"), option1 = c.byte("option1"), option2 = c.byte("option2");
    if (c.flag("watch")) {
        Watch watch(c.json());
        catch_interrupts = true;
        const int rounds = c.integer("rounds");
        bool all_ok = true;
        for (int n = 1; !interrupted && (rounds <= 0 || n <= rounds); ++n) {
            const auto round = inventory_round(c.handle(), antenna, option1, option2);
            all_ok = all_ok && round.ok();
            watch.add(round, n);
            if (round.lost) {
                watch.event("link_lost", round.cause);
                if (!c.flag("reconnect") || !reopen(c.handle(), watch)) return kExitFailed;
                watch.event("reconnected", "");
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(c.integer("interval")));
        }
        return all_ok ? kExitOk : kExitFailed;
    }

    const auto round = inventory_round(c.handle(), antenna, option1, option2);
    std::map<Bytes, long long> tags;
    for (const auto& epc : round.reports) ++tags[epc];
    if (c.json()) {
        auto j = Json::object();
        j.set("verb", "inventory");
        auto start = Json::object();
        start.set("function", "ZRIdentifyEpcCode");
        put_result(start, round.start, Kind::send_only);
        j.set("start", start);
        auto end = Json::object();
        end.set("function", "ZREpcCodeReport");
        end.set("result", round.end);
        end.set("text", meaning(round.end, Kind::report));
        j.set("end", end);
        j.set("reports", static_cast<long long>(round.reports.size()));
        auto list = Json::array();
        for (const auto& [epc, n] : tags) list.push(Json::object().set("epc", hex(epc.data(), epc.size())).set("seen", n));
        j.set("tags", list);
        j.set("success", round.ok());
        if (round.lost) j.set("link_lost", true);
        if (!round.ok()) j.set("cause", round.cause);
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("identify-epc-code: %s\n", describe(round.start, Kind::send_only).c_str());
        if (round.start > 0) {
            std::printf("epc-code-report: %zu reports, then %s\n", round.reports.size(),
                        describe(round.end, Kind::report).c_str());
            std::printf("inventory: %zu tags\n", tags.size());
            for (const auto& [epc, n] : tags) std::printf("  %s  seen %lld\n", hex(epc.data(), epc.size()).c_str(), n);
        }
        if (!round.ok()) std::printf("cause: %s\n", round.cause.c_str());
    }
    return round.ok() ? kExitOk : kExitFailed;
}

// LEN high, LEN low, code, status, data: the whole frame without its CRC.
int frame_report(Call& c, int(ZR_CALL* fn)(int, unsigned char*)) {
    auto* buf = c.buffer();
    const int r = fn(c.handle(), buf);
    if (r == ZR_OK) {
        const auto data = report_data(buf);
        c.out("length", buf[0] * 256 + buf[1]);
        c.out("data", hex(data.data(), data.size()));
    }
    return r;
}

const VerbGroup kInventory(21, "EPC, TID and user-data inventory", {
    {"identify-epc-code", "ZRIdentifyEpcCode", "start an EPC inventory; the reader answers with reports",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte, passed through"),
      byte_arg("option2", "0", "second option byte, passed through")},
     "zrtool --simulate identify-epc-code --antenna 1",
     [](Call& c) { return ZRIdentifyEpcCode(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2")); },
     Kind::send_only},
    {"epc-code-report", "ZREpcCodeReport", "collect one EPC report (0 when none has come)", {},
     "zrtool --simulate epc-code-report", [](Call& c) { return frame_report(c, ZREpcCodeReport); }, Kind::report,
     true, started_by([](int h) { ZRIdentifyEpcCode(h, 1, 0, 0); }),
     "an EPC inventory is started first (identify-epc-code), so that reports wait"},
    {"identify-tid-code", "ZRIdentifyTIDCode", "start a TID inventory (reports: tid-code-report)",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte, passed through"),
      byte_arg("option2", "0", "second option byte, passed through"),
      hex_arg("password", 4, "00000000", "access password")},
     "zrtool --simulate identify-tid-code --password 00000000",
     [](Call& c) {
         return ZRIdentifyTIDCode(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2"),
                                  c.bytes("password"));
     },
     Kind::send_only},
    {"tid-code-report", "ZRTIDCodeReport", "collect one TID report (0 when none has come)", {},
     "zrtool --simulate tid-code-report", [](Call& c) { return frame_report(c, ZRTIDCodeReport); }, Kind::report,
     true, started_by([](int h) {
         unsigned char password[4] = {};
         ZRIdentifyTIDCode(h, 1, 0, 0, password);
     }),
     "a TID inventory is started first (identify-tid-code), so that reports wait"},
    {"get-use-data", "ZRGetUseData",
     "start reading user memory words under a password (reports: get-use-data-report)",
     {hex_arg("password", 4, "00000000", "access password"), byte_arg("address", "0", "first word (0-14)"),
      byte_arg("words", "2", "words to read (address + 2 x words at most 28)")},
     "zrtool --simulate get-use-data --address 0 --words 2",
     [](Call& c) { return ZRGetUseData(c.handle(), c.bytes("password"), c.byte("address"), c.byte("words"), 0); },
     Kind::send_only},
    {"get-use-data-report", "ZRGetUseDataReport", "collect the user memory words read by get-use-data", {},
     "zrtool --simulate get-use-data-report",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRGetUseDataReport(c.handle(), buf);
         if (r == ZR_OK) c.out("data", hex_trimmed(buf + 2, 254));  // status, the reader's count byte, words
         return r;
     },
     Kind::report, true, started_by([](int h) {
         unsigned char password[4] = {};
         ZRGetUseData(h, password, 0, 2, 0);
     }),
     "two words are asked for first (get-use-data), so that their report waits"},
    {"inventory", "ZRIdentifyEpcCode", "start an EPC inventory and collect reports until none come",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte, passed through"),
      byte_arg("option2", "0", "second option byte, passed through"),
      flag_arg("watch", "repeat, keeping a table of the tags seen (EPC, times seen, last seen); plain lines "
                        "when the output is not a terminal; with --json one document per round (JSON "
                        "Lines: verb, round, result, text, success, tags); Ctrl-C ends"),
      int_arg("interval", "200", "with --watch: milliseconds between rounds, 0-3600000", 0, 3600000, "watch"),
      int_arg("rounds", "0", "with --watch: stop after this many rounds (0: until Ctrl-C)", 0, INT32_MAX,
              "watch"),
      flag_arg("reconnect", "with --watch: when the link is lost, reopen it (0.2 s after the loss, the pause "
                            "doubling up to 0.6 s) and go on once the reader is back; without it a lost link "
                            "ends the watch (exit status 1)")},
     "zrtool --simulate inventory",
     inventory, Kind::tool},
});

const unsigned char kDemoData[4] = {0xC0, 0xFF, 0xEE, 0x01};

const DemoSteps kInventorySteps({
    {20, "take an EPC inventory", "ZRIdentifyEpcCode, ZREpcCodeReport",
     [](DemoContext& d) {
         const auto round = inventory_round(d.handle(), 1, 0, 0);
         auto list = Json::array();
         for (const auto& epc : round.reports) list.push(hex(epc.data(), epc.size()));
         d.out("start", describe(round.start, Kind::send_only));
         d.out("tags", list);
         d.epcs = round.reports;
         if (round.start <= 0) return round.start;
         return round.end == 0 ? ZR_OK : round.end;
     }},
    {30, "read 8 bytes of the tag's user memory", "ZRReadUserData",
     [](DemoContext& d) {
         unsigned char buf[256] = {};
         d.out("tag-id", hex(d.call.bytes("tag-id"), 8));
         const int r = ZRReadUserData(d.handle(), 1, 0, 8, d.call.bytes("tag-id"), buf);
         if (r == ZR_OK) {
             d.out("data", hex(buf, 8));
             d.kept["original"] = Bytes(buf, buf + 4);
         }
         return r;
     }},
    // The write steps run only after the first read succeeded: without the original bytes
    // nothing could be put back, and the tag (a real one, with --tag-id) would keep the demo's.
    {40, "write 4 bytes to the tag's user memory", "ZRWriteUserData",
     [](DemoContext& d) {
         if (!d.kept.count("original")) return d.skip("the read before it failed, so nothing is written");
         d.out("data", hex(kDemoData, 4));
         return ZRWriteUserData(d.handle(), 1, 0, d.call.bytes("tag-id"), kDemoData, 4);
     }},
    {45, "read them back", "ZRReadUserData",
     [](DemoContext& d) {
         if (!d.kept.count("original")) return d.skip("nothing was written");
         unsigned char buf[256] = {};
         const int r = ZRReadUserData(d.handle(), 1, 0, 4, d.call.bytes("tag-id"), buf);
         if (r != ZR_OK) return r;
         const bool same = std::equal(kDemoData, kDemoData + 4, buf);
         d.out("data", hex(buf, 4));
         d.out("as written", same);
         return same ? ZR_OK : ZR_ERR_NO_REPLY;
     }},
    {47, "put the original bytes back", "ZRWriteUserData",
     [](DemoContext& d) {
         auto it = d.kept.find("original");
         if (it == d.kept.end()) return d.skip("nothing was written");
         d.out("data", hex(it->second.data(), it->second.size()));
         return ZRWriteUserData(d.handle(), 1, 0, d.call.bytes("tag-id"), it->second.data(), 4);
     }},
    {50, "query the RF power", "ZRPowerQuery",
     [](DemoContext& d) {
         unsigned char buf[256] = {};
         const int r = ZRPowerQuery(d.handle(), 0, 2, buf);
         if (r == ZR_OK) d.out("power", hex(buf, 2));
         return r;
     }},
    {60, "read the reader state", "ZRGetReaderState",
     [](DemoContext& d) {
         unsigned char state[256] = {};
         const int r = ZRGetReaderState(d.handle(), 0, state);
         if (r == ZR_OK) d.out("state", hex(state, 6));
         return r;
     }},
});

}  // namespace
}  // namespace zrtool
