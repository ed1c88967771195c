// EPC inventory: the start and report verbs, `inventory` (start, then reports until none
// come; --watch keeps a live table of the tags seen, or prints arrivals and departures), and
// the tour's steps that need tags.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>
#include <vector>

#include "demo.h"
#include "inventory.h"
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

// The reader answers a start with one report per tag, or with its "no tag" status. A report
// call takes only what has arrived: the first frame gets kAnswerWait, after which a few empty
// calls a short pause apart mean "no more".
constexpr auto kAnswerWait = std::chrono::milliseconds(1000);
constexpr int kQuietCalls = 3;
constexpr auto kQuietPause = std::chrono::milliseconds(50);

void collect_round(int handle, int antenna, int option1, int option2, Round& round) {
    ++round.calls;
    round.start = ZRIdentifyEpcCode(handle, antenna, option1, option2);
    if (round.start <= 0) return;
    const auto started = std::chrono::steady_clock::now();
    unsigned char buffer[256] = {};
    for (int quiet = 0; !interrupted;) {
        ++round.calls;
        const int r = ZREpcCodeReport(handle, buffer);
        if (r == 0) {
            if (ZRLinkState(handle) == 0) break;
            const bool done = round.answered ? ++quiet >= kQuietCalls
                                             : std::chrono::steady_clock::now() - started >= kAnswerWait;
            if (done) break;
            std::this_thread::sleep_for(kQuietPause);
            continue;
        }
        round.answered = true;
        quiet = 0;
        if (r == ZR_OK) {
            round.reports.push_back(report_data(buffer));
            continue;
        }
        round.end = r;  // the "no tag" status, or an error: a mapped status, -4, -1
        break;
    }
}

}  // namespace

// What to say about a lost link: the library's cause when it tells of the loss, else only
// that (the last failure may be an empty report call that merely came after it).
std::string lost_text(const std::string& cause) {
    return cause.rfind("link lost", 0) == 0 ? cause : "link lost";
}

Round inventory_round(int handle, int antenna, int option1, int option2) {
    Round round;
    collect_round(handle, antenna, option1, option2, round);
    // Tags counted from a link that has just gone are no inventory to rely on: the loss is
    // reported, whatever came before it.
    ++round.calls;
    round.lost = ZRLinkState(handle) == 0;
    if (round.lost)
        round.cause = lost_text(ZRLastCause());
    else if (round.silent())
        round.cause = "the reader did not answer the inventory: no report within " +
                      std::to_string(kAnswerWait.count()) + " ms of the start";
    else if (!round.ok())
        round.cause = ZRLastCause();
    return round;
}

namespace {

// How the collection ended, in words.
std::string end_text(const Round& round) {
    if (round.silent()) return "no report at all";
    if (no_tag(round.end)) return describe(round.end, Kind::report) + " (no tag in the field)";
    return describe(round.end, Kind::report);
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
    Clock::time_point first, last;
    std::chrono::steady_clock::time_point last_steady;
};

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

enum class Output { table, lines, json, csv };

// What the watch prints: a table redrawn in place on a terminal; elsewhere one plain line per
// sighting (or, with events, per arrival and departure), JSON Lines or CSV. Every failed round
// gets a line with its cause.
class Watch {
public:
    Watch(Output output, bool events, std::chrono::milliseconds window)
        : output_(output), events_(events), window_(window) {
        if (output_ == Output::csv) std::printf("time,event,epc,seen,cause\n");
    }

    void add(const Round& round, int number) {
        const auto now = Clock::now();
        const auto steady = std::chrono::steady_clock::now();
        auto tags = Json::array();
        for (const auto& epc : round.reports) {
            const bool arrived = !seen_.count(epc);
            auto& s = seen_[epc];
            ++s.times;
            if (arrived) s.first = now;
            s.last = now;
            s.last_steady = steady;
            const auto id = hex(epc.data(), epc.size());
            if (output_ == Output::json) {
                auto j = Json::object();
                j.set("epc", id);
                j.set("seen", s.times);
                j.set("last_seen", clock_text(now));
                tags.push(j);
                if (events_ && arrived) line_event("arrived", id, s, now);
            } else if (events_) {
                if (arrived) line_event("arrived", id, s, now);
            } else if (output_ == Output::csv) {
                std::printf("%s,read,%s,%lld,\n", clock_text(now).c_str(), id.c_str(), s.times);
            } else if (output_ == Output::lines) {
                std::printf("%s  %s  seen %lld\n", clock_text(now).c_str(), id.c_str(), s.times);
            }
        }
        if (output_ == Output::json) {
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
        if (!round.ok() && !round.lost) {
            if (output_ == Output::csv)
                std::printf("%s,failed,,,%s\n", clock_text(now).c_str(), csv_field(round.cause).c_str());
            else if (output_ == Output::lines || (output_ == Output::table && events_))
                std::printf("%s  round %d failed: %s\n", clock_text(now).c_str(), number, round.cause.c_str());
        }
        if (output_ == Output::table && !events_) draw(round, number);
        std::fflush(stdout);
    }

    // With events: the tags not seen for the window have departed.
    void expire() {
        if (!events_) return;
        const auto steady = std::chrono::steady_clock::now();
        for (auto it = seen_.begin(); it != seen_.end();) {
            if (steady - it->second.last_steady < window_) {
                ++it;
                continue;
            }
            line_event("departed", hex(it->first.data(), it->first.size()), it->second, Clock::now());
            it = seen_.erase(it);
        }
        std::fflush(stdout);
    }

    // A line about the link: "link_lost", "reconnect_failed" (with the result), "reconnected".
    void event(const char* name, const std::string& cause, int result = ZR_OK) {
        const auto now = Clock::now();
        if (output_ == Output::json) {
            auto j = Json::object();
            j.set("verb", "inventory");
            j.set("event", name);
            j.set("time", clock_text(now));
            if (result != ZR_OK) j.set("result", result);
            if (!cause.empty()) j.set("cause", cause);
            std::printf("%s\n", j.dump().c_str());
        } else if (output_ == Output::csv) {
            std::string why = cause;
            if (result != ZR_OK) why = describe(result, Kind::status) + (cause.empty() ? "" : ": " + cause);
            std::printf("%s,%s,,,%s\n", clock_text(now).c_str(), name, csv_field(why).c_str());
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
    // "arrived" (first seen) or "departed" (not seen for the window; with the times seen).
    void line_event(const char* name, const std::string& id, const Seen& s, Clock::time_point now) {
        const bool departed = name[0] == 'd';
        if (output_ == Output::json) {
            auto j = Json::object();
            j.set("verb", "inventory");
            j.set("event", name);
            j.set("epc", id);
            j.set("time", clock_text(now));
            if (departed) {
                j.set("seen", s.times);
                j.set("first_seen", clock_text(s.first));
                j.set("last_seen", clock_text(s.last));
            }
            std::printf("%s\n", j.dump().c_str());
        } else if (output_ == Output::csv) {
            std::printf("%s,%s,%s,%s,\n", clock_text(now).c_str(), name, id.c_str(),
                        departed ? std::to_string(s.times).c_str() : "");
        } else {
            std::printf("%s  %-8s  %s%s\n", clock_text(now).c_str(), name, id.c_str(),
                        departed ? ("  seen " + std::to_string(s.times)).c_str() : "");
        }
    }

    void draw(const Round& round, int number) {
        std::printf("\033[H\033[2J");
        std::printf("zrtool inventory --watch: round %d, %zu tags (Ctrl-C ends)\n", number, seen_.size());
        if (!round.ok())
            std::printf("last round: start %s, end %s (%s)\n", describe(round.start, Kind::send_only).c_str(),
                        end_text(round).c_str(), round.cause.c_str());
        std::printf("\n%-40s %10s  %s\n", "EPC", "seen", "last seen");
        for (const auto& [epc, s] : seen_)
            std::printf("%-40s %10lld  %s\n", hex(epc.data(), epc.size()).c_str(), s.times, clock_text(s.last).c_str());
    }

    Output output_;
    bool events_;
    std::chrono::milliseconds window_;
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

// Rounds in a row without any answer before the watch takes the reader for lost: one can be
// noise, three are a reader that has stopped answering.
constexpr int kSilentRoundsLost = 3;

int inventory(Call& c) {
    const int antenna = c.byte("antenna"), option1 = c.byte("option1"), option2 = c.byte("option2");
    if (c.flag("csv") && c.json()) {
        std::fprintf(stderr, "zrtool: inventory takes --csv or --json, not both\n");
        return kExitUsage;
    }
    if (c.flag("watch")) {
        const Output output = c.json()            ? Output::json
                              : c.flag("csv")     ? Output::csv
                              : os::is_terminal(1) ? Output::table
                                                  : Output::lines;
        Watch watch(output, c.flag("events"), std::chrono::milliseconds(c.integer("window")));
        catch_interrupts = true;
        const int rounds = c.integer("rounds");
        bool all_ok = true;
        int silent = 0;
        for (int n = 1; !interrupted && (rounds <= 0 || n <= rounds); ++n) {
            const auto round = inventory_round(c.handle(), antenna, option1, option2);
            all_ok = all_ok && round.ok();
            watch.add(round, n);
            watch.expire();
            silent = round.silent() ? silent + 1 : 0;
            if (round.lost || silent >= kSilentRoundsLost) {
                watch.event(round.lost ? "link_lost" : "reader_lost", round.cause);
                silent = 0;
                if (!c.flag("reconnect") || !reopen(c.handle(), watch)) return kExitFailed;
                watch.event("reconnected", "");
                continue;
            }
            pause_for(std::chrono::milliseconds(c.integer("interval")));
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
        end.set("text", round.silent() ? "no report at all" : meaning(round.end, Kind::report));
        j.set("end", end);
        j.set("answered", round.answered);
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
            std::printf("epc-code-report: %zu reports, then %s\n", round.reports.size(), end_text(round).c_str());
            if (round.silent()) std::printf("inventory: no answer\n");
            else std::printf("inventory: %zu tags\n", tags.size());
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
    {"inventory", "ZRIdentifyEpcCode",
     "start an EPC inventory and collect reports until none come; the reader's \"no tag\" status (0x61, 0x91 in "
     "classes 1 and 2) is 0 tags and success, no answer at all within 1 s a failure (exit status 1)",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte, passed through"),
      byte_arg("option2", "0", "second option byte, passed through"),
      flag_arg("watch", "repeat, keeping a table of the tags seen (EPC, times seen, last seen); plain lines "
                        "when the output is not a terminal; with --json one document per round (JSON "
                        "Lines: verb, round, result, text, success, tags); Ctrl-C ends"),
      int_arg("interval", "200", "with --watch: milliseconds between rounds, 0-3600000", 0, 3600000, "watch"),
      int_arg("rounds", "0", "with --watch: stop after this many rounds (0: until Ctrl-C)", 0, INT32_MAX,
              "watch"),
      flag_arg("reconnect", "with --watch: when the link is lost, or the reader has not answered three rounds "
                            "in a row, reopen it (0.2 s after the loss, the pause doubling up to 0.6 s) and go on "
                            "once the reader is back; without it a lost reader ends the watch (exit status 1)"),
      {"events", Type::flag, "", "with --watch: print a line when a tag arrives (first seen) and when it departs "
                                 "(not seen for --window ms) instead of every sighting", 0, INT32_MIN, INT32_MAX,
       "watch"},
      int_arg("window", "2000", "with --events: milliseconds a tag may go unseen before it has departed, "
                                "100-86400000", 100, 86400000, "events"),
      {"csv", Type::flag, "", "with --watch: CSV lines (time,event,epc,seen,cause; event read, arrived, departed, "
                              "failed, link_lost, reader_lost, reconnect_failed, reconnected) after a header line",
       0, INT32_MIN, INT32_MAX, "watch"}},
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
         if (round.ok()) return ZR_OK;
         return round.end != 0 ? round.end : ZR_ERR_NO_REPLY;  // silent: no reply at all
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
