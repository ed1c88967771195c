// encode: writes a new EPC and/or user memory to one chosen tag, and only to it. The tag is
// selected, the selection checked to hold (one tag answers under it), the data written, then
// read back and compared. --batch does the same for each line of a CSV file.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "inventory.h"
#include "protocol/hex.h"
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The reader selects by EPC (0x80) or by 8-byte identifier (0x70); it has no selection by TID.
enum class By { epc, id, tid };

struct UserWrite {
    int word = 0;  // first word of user memory
    Bytes data;    // whole words
};

struct Job {
    By by = By::epc;
    Bytes match;
    Bytes epc;  // empty: the EPC stays
    std::vector<UserWrite> user;
    std::string name() const;
};

struct Settings {
    int antenna = 1;
    Bytes password;
    std::vector<int> lock_regions;
};

// How one tag went. refused: nothing was written.
struct Outcome {
    enum Result { ok, refused, failed } result = failed;
    std::string cause;
    Bytes epc_before, epc_after;
    int calls = 0;
    long long ms = 0;
};

const char* result_word(Outcome::Result r) {
    switch (r) {
        case Outcome::ok: return "ok";
        case Outcome::refused: return "refused";
        case Outcome::failed: return "failed";
    }
    return "";
}

std::string compact(const Bytes& b) {
    std::string s = zr::protocol::hex(b.data(), b.size());
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

const char* by_word(By by) { return by == By::epc ? "by-epc" : by == By::id ? "by-id" : "by-tid"; }

std::string Job::name() const { return std::string(by_word(by)) + ":" + compact(match); }

bool starts_with(const Bytes& whole, const Bytes& part) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

const char* const kRegions[] = {"visit-password", "destroy-password", "epc", "tid", "user", "all"};

// ---- parsing (shared by the options and the CSV lines) ------------------------------------

bool parse_bytes(const std::string& text, Bytes& out) {
    out.clear();
    return zr::protocol::parse_hex(text, out) && !out.empty();
}

// "ADDR:HEX": a word address (decimal or 0x-hex) and whole words of data.
bool parse_user(const std::string& text, UserWrite& out, std::string& error) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return error = "user data wants WORD:HEX, not '" + text + "'", false;
    const std::string addr = text.substr(0, colon);
    try {
        std::size_t used = 0;
        const long v = std::stol(addr, &used, 0);
        if (used != addr.size() || v < 0 || v > 255) throw std::out_of_range(addr);
        out.word = static_cast<int>(v);
    } catch (const std::exception&) {
        return error = "user data: the word address wants 0-255, not '" + addr + "'", false;
    }
    if (!parse_bytes(text.substr(colon + 1), out.data) || out.data.size() % 2 != 0)
        return error = "user data wants whole 16-bit words in hex after the ':', not '" + text.substr(colon + 1) + "'",
               false;
    // Over TCP a read returns at most 46 words, and every write is read back.
    if (out.data.size() > 92) return error = "user data: at most 46 words at a time", false;
    return true;
}

// The checks every job passes before anything is sent.
bool check_job(const Job& job, std::string& error) {
    if (job.by == By::tid) return error = "the reader cannot select a tag by its TID: give --by-epc or --by-id", false;
    if (job.by == By::id && job.match.size() != 8)
        return error = "--by-id wants the 8-byte identifier, not " + std::to_string(job.match.size()) + " bytes", false;
    if (job.by == By::epc && (job.match.empty() || job.match.size() > 250))
        return error = "--by-epc wants 1 to 250 bytes", false;
    if (!job.epc.empty() && (job.epc.size() % 2 != 0 || job.epc.size() > 12))
        return error = "the new EPC wants whole 16-bit words, at most 12 bytes", false;
    if (job.epc.empty() && job.user.empty())
        return error = "nothing to write: give a new EPC, user data or both", false;
    return true;
}

// One CSV line: by-epc|by-id|by-tid, the tag's EPC or identifier, the new EPC (may be
// empty), then any number of WORD:HEX user data fields.
bool parse_line(const std::string& line, Job& job, std::string& error) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) {
        f.erase(0, f.find_first_not_of(" \t\r"));
        f.erase(f.find_last_not_of(" \t\r") + 1);
        fields.push_back(f);
    }
    if (fields.size() < 3) return error = "wants by-epc|by-id|by-tid, the tag, the new EPC, user data...", false;
    if (fields[0] == "by-epc") job.by = By::epc;
    else if (fields[0] == "by-id") job.by = By::id;
    else if (fields[0] == "by-tid") job.by = By::tid;
    else return error = "the first field wants by-epc, by-id or by-tid, not '" + fields[0] + "'", false;
    if (!parse_bytes(fields[1], job.match)) return error = "the tag wants hex, not '" + fields[1] + "'", false;
    if (!fields[2].empty() && !parse_bytes(fields[2], job.epc))
        return error = "the new EPC wants hex, not '" + fields[2] + "'", false;
    for (std::size_t i = 3; i < fields.size(); ++i) {
        if (fields[i].empty()) continue;
        UserWrite u;
        if (!parse_user(fields[i], u, error)) return false;
        job.user.push_back(u);
    }
    return check_job(job, error);
}

// ---- the encoding ------------------------------------------------------------------------

class Encoder {
public:
    Encoder(int handle, Settings s) : h_(handle), s_(std::move(s)) {}

    // Cancels any selection and takes the field's EPCs; false + cause when the reader did not
    // answer the way an inventory should.
    bool survey(std::string& cause) {
        if (!cancel_selection(cause)) return false;
        const auto round = inventory_round(h_, s_.antenna, 0, 0);
        calls_ += round.calls;
        if (!round.ok() && !(round.start > 0 && !round.lost && round.reports.empty())) {
            cause = "the inventory of the field failed: " + round.cause;
            return false;
        }
        field_ = round.reports;
        return true;
    }

    std::size_t field_size() const { return field_.size(); }

    Outcome encode(const Job& job) {
        const auto start = std::chrono::steady_clock::now();
        const int before = calls_;
        Outcome o = run(job);
        o.calls = calls_ - before;
        o.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        return o;
    }

    int calls() const { return calls_; }

private:
    static Outcome ended(Outcome::Result result, std::string cause) {
        Outcome o;
        o.result = result;
        o.cause = std::move(cause);
        return o;
    }
    static Outcome refuse(std::string cause) { return ended(Outcome::refused, std::move(cause)); }
    static Outcome fail(std::string cause) { return ended(Outcome::failed, std::move(cause)); }

    std::string why(int r, Kind kind = Kind::status) const {
        std::string s = describe(r, kind);
        const std::string cause = ZRLastCause();
        if (!cause.empty() && cause != ZRResultText(r)) s += " (" + cause + ")";
        return s;
    }

    bool cancel_selection(std::string& cause) {
        const unsigned char none[1] = {0};
        ++calls_;
        const int r = ZRSelectTagEPC(h_, s_.antenna, 0, 0, none, 0);
        if (r != ZR_OK) cause = "cancelling the selection: " + why(r);
        return r == ZR_OK;
    }

    int select(By by, const Bytes& match) {
        ++calls_;
        if (by == By::id) return ZRSelectTag(h_, s_.antenna, 1, 0, match.data());
        return ZRSelectTagEPC(h_, s_.antenna, 1, 0, match.data(), static_cast<int>(match.size()));
    }

    // The tags that answer an inventory under the selection; false + cause when it failed.
    bool answering(std::vector<Bytes>& out, std::string& cause) {
        const auto round = inventory_round(h_, s_.antenna, 0, 0);
        calls_ += round.calls;
        out = round.reports;
        if (round.ok()) return true;
        cause = round.start <= 0 ? "the inventory did not start: " + why(round.start, Kind::send_only)
                                 : "the inventory failed: " + round.cause;
        return false;
    }

    Outcome run(const Job& job) {
        std::string cause;
        if (job.by == By::epc) {
            const auto n =
                std::count_if(field_.begin(), field_.end(), [&](const Bytes& e) { return starts_with(e, job.match); });
            if (n == 0)
                return refuse("no tag with EPC " + compact(job.match) + " in the field (" +
                              std::to_string(field_.size()) + " tags answered)");
            if (n > 1)
                return refuse(std::to_string(n) + " tags in the field have an EPC that begins with " +
                              compact(job.match) + ": the selection cannot single one out");
        }
        const int selected = select(job.by, job.match);
        if (selected != ZR_OK) {
            cancel_selection(cause);
            // A reader status is the reader's answer (no tag matches); anything else is the link's.
            if (selected > 1000) return refuse("the tag is not in the field: the reader selected none, " + why(selected));
            return refuse("selecting the tag: " + why(selected));
        }
        Outcome o = under_selection(job);
        std::string cancelled;
        if (!cancel_selection(cancelled) && o.result == Outcome::ok) return fail(cancelled);
        return o;
    }

    // Everything between the selection and its cancelling.
    Outcome under_selection(const Job& job) {
        std::string cause;
        std::vector<Bytes> seen;
        if (!answering(seen, cause)) return refuse("checking the selection: " + cause);
        if (seen.size() != 1)
            return refuse("the selection does not hold: " + std::to_string(seen.size()) + " tags answer under it");
        const Bytes current = seen.front();
        if (job.by == By::epc && !starts_with(current, job.match))
            return refuse("the selection does not hold: the tag answering under it has EPC " + compact(current));

        // The field without the target: a new EPC that another tag already has (or that begins
        // another's) would make the tags impossible to tell apart afterwards.
        auto others = field_;
        if (auto it = std::find(others.begin(), others.end(), current); it != others.end()) others.erase(it);
        if (!job.epc.empty() && job.epc != current)
            for (const auto& e : others)
                if (starts_with(e, job.epc))
                    return refuse("another tag in the field already has EPC " + compact(e) + ", which begins with " +
                                  compact(job.epc));

        // User memory first: a new EPC takes a tag out of a selection by its EPC.
        for (const auto& u : job.user) {
            ++calls_;
            const int r = ZRSetUseData(h_, s_.antenna, s_.password.data(), u.word, static_cast<int>(u.data.size() / 2),
                                       u.data.data());
            if (r != ZR_OK) return fail("writing user memory at word " + std::to_string(u.word) + ": " + why(r));
        }
        const Bytes expected = job.epc.empty() ? current : job.epc;
        if (!job.epc.empty()) {
            ++calls_;
            const int r = ZRSetEpcCode(h_, s_.antenna, s_.password.data(), static_cast<int>(job.epc.size()),
                                       static_cast<int>(job.epc.size() / 2), job.epc.data());
            if (r != ZR_OK)
                return fail("writing the EPC: " +
                            (r > 1 ? std::to_string(r) + " bytes sent, no reply confirmed them" : why(r)));
            if (job.by == By::epc) {
                const int again = select(By::epc, job.epc);
                if (again != ZR_OK) return fail("read-back: no tag answers with the new EPC: " + why(again));
            }
        }

        if (!answering(seen, cause)) return fail("read-back: " + cause);
        if (seen.size() != 1 || seen.front() != expected) {
            std::string got;
            for (const auto& e : seen) got += (got.empty() ? "" : " ") + compact(e);
            return fail("read-back: expected EPC " + compact(expected) + ", the reader saw " +
                        (seen.empty() ? std::string("no tag") : got));
        }
        for (const auto& u : job.user) {
            const int words = static_cast<int>(u.data.size() / 2);
            unsigned char buf[256] = {};
            ++calls_;
            const int r = ZRReadUserDataEPC(h_, s_.password.data(), u.word, words, s_.antenna, buf);
            if (r != ZR_OK) return fail("read-back of user memory at word " + std::to_string(u.word) + ": " + why(r));
            const Bytes got(buf + 5, buf + 5 + u.data.size());
            if (got != u.data)
                return fail("read-back of user memory at word " + std::to_string(u.word) + ": wrote " +
                            compact(u.data) + ", read " + compact(got));
        }

        for (int region : s_.lock_regions) {
            ++calls_;
            const int r = ZRSetDataLocked(h_, s_.antenna, s_.password.data(), 1, region);
            if (r != ZR_OK) return fail(std::string("locking ") + kRegions[region] + ": " + why(r));
        }
        // What the field holds now, for the next tag of a batch.
        if (auto it = std::find(field_.begin(), field_.end(), current); it != field_.end()) *it = expected;
        Outcome o = ended(Outcome::ok, "");
        o.epc_before = current;
        o.epc_after = expected;
        return o;
    }

    int h_;
    Settings s_;
    std::vector<Bytes> field_;
    int calls_ = 0;
};

Json outcome_json(const Job& job, const Outcome& o) {
    auto j = Json::object();
    j.set("tag", job.name());
    j.set("result", result_word(o.result));
    j.set("success", o.result == Outcome::ok);
    if (!o.cause.empty()) j.set("cause", o.cause);
    if (o.result == Outcome::ok) {
        j.set("epc_before", compact(o.epc_before));
        j.set("epc", compact(o.epc_after));
    }
    j.set("calls", o.calls);
    j.set("ms", o.ms);
    return j;
}

void print_outcome(const Job& job, const Outcome& o) {
    std::printf("encode %s: %s", job.name().c_str(), result_word(o.result));
    if (o.result == Outcome::ok) std::printf(" (read back and compared)\n");
    else std::printf("\n  cause: %s\n", o.cause.c_str());
    if (o.result == Outcome::ok) {
        if (o.epc_before != o.epc_after)
            std::printf("  epc: %s -> %s\n", compact(o.epc_before).c_str(), compact(o.epc_after).c_str());
        else std::printf("  epc: %s\n", compact(o.epc_after).c_str());
        for (const auto& u : job.user) std::printf("  user word %d: %s\n", u.word, compact(u.data).c_str());
    }
    std::printf("  %d library calls, %lld ms\n", o.calls, o.ms);
}

std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// A bar redrawn in place; only on a terminal, so that a pipe or file gets plain lines.
void draw_bar(std::size_t done, std::size_t total, int failed) {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total ? done * kWidth / total : kWidth;
    std::printf("\r[%s%s] %zu/%zu  %d not encoded", std::string(filled, '#').c_str(),
                std::string(kWidth - filled, '.').c_str(), done, total, failed);
    std::fflush(stdout);
}

int usage(const std::string& message) {
    std::fprintf(stderr, "zrtool: encode: %s\n", message.c_str());
    return kExitUsage;
}

int batch(Call& c, Encoder& enc) {
    std::ifstream in(c.text("batch"));
    if (!in) return usage("cannot read " + c.text("batch"));
    std::vector<Job> jobs;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#' || line.compare(first, 3, "by,") == 0) continue;
        Job job;
        std::string error;
        if (!parse_line(line, job, error))
            return usage(c.text("batch") + " line " + std::to_string(number) + ": " + error);
        jobs.push_back(job);
    }
    if (jobs.empty()) return usage(c.text("batch") + " holds no tag");
    std::ofstream report;
    if (c.given("report")) {
        report.open(c.text("report"));
        if (!report) return usage("cannot write " + c.text("report"));
        report << "tag,result,time_ms,cause\n";
    }

    std::string cause;
    if (!enc.survey(cause)) {
        if (c.json())
            std::printf("%s\n",
                        Json::object().set("verb", "encode").set("success", false).set("cause", cause).dump().c_str());
        else std::printf("encode: %s\n", cause.c_str());
        return kExitFailed;
    }
    const bool bar = !c.json() && ::isatty(1);
    int failed = 0;
    long long calls = 0, ms = 0;
    auto list = Json::array();
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (bar) draw_bar(i, jobs.size(), failed);
        const Outcome o = enc.encode(jobs[i]);
        failed += o.result != Outcome::ok;
        calls += o.calls;
        ms += o.ms;
        if (report)
            report << csv_field(jobs[i].name()) << ',' << result_word(o.result) << ',' << o.ms << ','
                   << csv_field(o.cause) << '\n'
                   << std::flush;
        if (c.json()) list.push(outcome_json(jobs[i], o));
        else if (!bar) print_outcome(jobs[i], o);
        else if (o.result != Outcome::ok)
            std::printf("\r\033[K%s: %s: %s\n", jobs[i].name().c_str(), result_word(o.result), o.cause.c_str());
    }
    const auto n = static_cast<long long>(jobs.size());
    if (c.json()) {
        auto j = Json::object();
        j.set("verb", "encode");
        j.set("tags", list);
        j.set("encoded", n - failed);
        j.set("failed", failed);
        j.set("calls_per_tag", calls / n);
        j.set("ms_per_tag", ms / n);
        j.set("success", failed == 0);
        std::printf("%s\n", j.dump().c_str());
    } else {
        if (bar) {
            draw_bar(jobs.size(), jobs.size(), failed);
            std::printf("\n");
        }
        std::printf("encode: %lld of %lld tags encoded and verified; %lld library calls and %lld ms a tag\n",
                    n - failed, n, calls / n, ms / n);
        if (c.given("report")) std::printf("report: %s\n", c.text("report").c_str());
    }
    return failed == 0 ? kExitOk : kExitFailed;
}

int encode(Call& c) {
    Settings s;
    s.antenna = c.byte("antenna");
    s.password.assign(c.bytes("password"), c.bytes("password") + 4);
    if (c.given("lock")) {
        std::stringstream in(c.text("lock"));
        for (std::string name; std::getline(in, name, ',');) {
            const auto it =
                std::find_if(std::begin(kRegions), std::end(kRegions), [&](const char* r) { return name == r; });
            if (it == std::end(kRegions))
                return usage("--lock wants visit-password, destroy-password, epc, tid, user or all, not '" + name +
                             "'");
            s.lock_regions.push_back(static_cast<int>(it - std::begin(kRegions)));
        }
    }
    const int selectors = c.given("by-epc") + c.given("by-id") + c.given("by-tid");
    Encoder enc(c.handle(), s);

    if (c.given("batch")) {
        if (selectors || c.given("epc") || c.given("user"))
            return usage("--batch takes the tags and their data from the file: no --by-*, --epc or --user with it");
        return batch(c, enc);
    }
    if (c.given("report")) return usage("--report goes with --batch");
    if (selectors != 1) return usage("give one of --by-epc, --by-id and --by-tid: the tag to encode");
    Job job;
    job.by = c.given("by-id") ? By::id : c.given("by-tid") ? By::tid : By::epc;
    const char* sel = job.by == By::id ? "by-id" : job.by == By::tid ? "by-tid" : "by-epc";
    job.match.assign(c.bytes(sel), c.bytes(sel) + c.size(sel));
    if (c.given("epc")) job.epc.assign(c.bytes("epc"), c.bytes("epc") + c.size("epc"));
    std::string error;
    if (c.given("user")) {
        UserWrite u;
        if (!parse_user(c.text("user"), u, error)) return usage(error);
        job.user.push_back(u);
    }
    if (!check_job(job, error)) return usage(error);

    Outcome o;
    if (!enc.survey(o.cause)) {
        o.result = Outcome::refused;
        o.calls = enc.calls();
    } else {
        o = enc.encode(job);
    }
    if (c.json()) {
        auto j = outcome_json(job, o);
        j.set("verb", "encode");
        std::printf("%s\n", j.dump().c_str());
    } else {
        print_outcome(job, o);
    }
    return o.result == Outcome::ok ? kExitOk : kExitFailed;
}

const VerbGroup kEncode(33, "Encoding", {
    {"encode", "",
     "write a new EPC and/or user memory to one chosen tag: select it, check that only it answers "
     "under the selection, write, read back and compare (exit 0 only when the tag reads back as "
     "written); with --batch, every tag of a CSV file",
     {byte_arg("antenna", "1", "antenna byte"),
      hex_arg("by-epc", 0, "", "the tag: its EPC, or its first bytes when no other tag's EPC begins with them"),
      hex_arg("by-id", 8, "", "the tag: its 8-byte identifier"),
      hex_arg("by-tid", 0, "", "not available: the reader cannot select by TID (refused with a message)"),
      hex_arg("epc", 0, "", "the new EPC, whole 16-bit words, at most 12 bytes"),
      text_arg("user", "", "user memory to write, WORD:HEX: the first word (0-255) and whole words of data, "
                           "at most 46 words (e.g. 0:C0FFEE01)"),
      hex_arg("password", 4, "00000000", "access password"),
      text_arg("lock", "", "after the read-back, lock these regions (comma-separated): visit-password, "
                           "destroy-password, epc, tid, user, all"),
      text_arg("batch", "", "a CSV file, one tag a line: by-epc|by-id|by-tid, the tag, the new EPC (may be "
                            "empty), then WORD:HEX user data fields; '#' lines and a header starting 'by,' are "
                            "skipped. A progress bar on a terminal; exit 0 only when every tag was verified"),
      text_arg("report", "", "with --batch: write a result CSV: tag, result (ok, refused: nothing written, "
                             "failed), time_ms, cause")},
     "zrtool --simulate encode --by-epc 300833B2DDD9014000000002 --epc 300833B2DDD90140000000AA --user 0:C0FFEE01",
     encode, Kind::tool},
});

}  // namespace
}  // namespace zrtool
