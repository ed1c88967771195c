#include "worker.h"

#include <algorithm>
#include <cstdio>

#include "text.h"
#include "zr.h"

namespace zrgate {
namespace {

using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;
using std::chrono::milliseconds;

// Rounds in a row that went wrong (silence, garbage, an error status) before the session is
// given up and opened again: one bad round can be noise, three are a reader in trouble.
constexpr int kBadRoundsBeforeReconnect = 3;
constexpr auto kSerialPoll = milliseconds(10);  // serial report calls return at once

const char* state_name(int s) {
    static const char* names[] = {"starting", "online", "reconnecting", "offline"};
    return names[s];
}

// "No tag in the field" in every device class (status 0x61 in class 3, 0x91 in 1 and 2): an
// empty round, not a fault.
bool no_tag(int r) { return r == 3002 || r == 4002; }
bool reader_status(int r) { return r >= 1001 || r == ZR_ERR_PARAMETER || r == ZR_ERR_STATUS_3A || r == ZR_ERR_UNKNOWN_STATUS; }

// The library's own cause when it knows more than the result code's text, else `plain`.
std::string cause_of(int result, const char* plain = nullptr) {
    const std::string cause = ZRLastCause();  // copied: the next call may replace it
    const std::string code = ZRResultText(result);
    if (!cause.empty() && cause != code) return cause;
    return plain ? plain : code;
}

}  // namespace

Worker::Worker(const GatewayConfig& config, ReaderConfig reader, std::size_t slot, Publisher& publisher, StopSignal& stop)
    : config_(config),
      reader_(std::move(reader)),
      slot_(slot),
      publisher_(publisher),
      stop_(stop),
      status_topic_(config.reader_topic(reader_) + "/status"),
      id_key_(reader_.inventory == Inventory::epc ? "epc" : "tid"),
      run_(",\"run\":" + std::to_string(publisher.run()) + ",\"seq\":") {}

Worker::~Worker() { join_or_leave(); }

void Worker::start() {
    thread_ = std::thread([this] {
        run();
        {
            std::lock_guard lock(stop_.mutex);  // so that a waiter cannot miss it between test and wait
            done_ = true;
        }
        stop_.wake.notify_all();
    });
}

void Worker::join_or_leave() {
    if (!thread_.joinable()) return;
    if (done_)
        thread_.join();
    else
        thread_.detach();
}

Worker::Snapshot Worker::snapshot() const {
    std::lock_guard lock(state_mutex_);
    return {state_name(static_cast<int>(state_)), reads_, events_, reconnects_, published_cause_};
}

std::vector<Worker::Tag> Worker::present() const {
    std::lock_guard lock(view_mutex_);
    std::vector<Tag> out;
    out.reserve(present_.size());
    for (const auto& [id, p] : present_) out.push_back({id, p.antenna, p.first_wall, p.last_wall, p.reads});
    return out;
}

std::vector<std::uint64_t> Worker::antenna_reads() const {
    std::vector<std::uint64_t> out;
    for (int a : reader_.antennas) out.push_back(antenna_reads_[static_cast<std::size_t>(a) & 255].load(std::memory_order_relaxed));
    return out;
}

void Worker::retire(std::string cause) {
    {
        std::lock_guard lock(stop_.mutex);
        retired_ = true;
        retire_cause_ = std::move(cause);
    }
    stop_.wake.notify_all();  // every worker wakes; the others find nothing for them and wait on
}

bool Worker::stopping() {
    std::lock_guard lock(stop_.mutex);
    return stop_.stop || retired_;
}

bool Worker::pause(milliseconds d) {
    const auto until = Steady::now() + d;
    std::unique_lock lock(stop_.mutex);
    auto over = [&] { return stop_.stop || retired_; };
    while (!over()) {
        auto next = until;
        const auto window = milliseconds(config_.window_ms);
        for (const auto& [id, p] : present_) next = std::min(next, p.last + window);
        if (stop_.wake.wait_until(lock, next, over)) break;
        lock.unlock();
        expire(Steady::now(), false);
        lock.lock();
        if (Steady::now() >= until) return !over();
    }
    return false;
}

void Worker::set_state(State s, const std::string& cause) {
    // Only changes are published: a reader retried every few seconds does not flood the topic.
    {
        std::lock_guard lock(state_mutex_);
        if (s == state_ && cause == published_cause_) return;
        state_ = s;
        published_cause_ = cause;
        online_ = s == State::online;
    }
    std::fprintf(stderr, "zrgate: [%s] %s%s%s\n", reader_.name.c_str(), state_name(static_cast<int>(s)),
                 cause.empty() ? "" : ": ", cause.c_str());
    std::string p = "{\"state\":\"" + std::string(state_name(static_cast<int>(s))) +
                    "\",\"reader\":" + json_string(reader_.name) + ",\"link\":" +
                    json_string((reader_.serial ? "serial " : "TCP ") + reader_.port) + ",\"time\":\"" + utc_now() + "\"";
    if (!cause.empty()) p += ",\"cause\":" + json_string(cause);
    p += ",\"reconnects\":" + std::to_string(reconnects_.load()) + "}";
    publisher_.status(status_topic_, std::move(p));
}

bool Worker::open_session() {
    // A session once open keeps its handle: ZRReconnect opens its link again, however often.
    const bool first = handle_ == -1;
    const std::string before = ZRLastCause();
    const int r = first ? ZROpen(&handle_, config_.file.c_str(), reader_.name.c_str()) : ZRReconnect(handle_);
    // An open that succeeds speaks only of what went wrong beside it: a trace file it could not open.
    if (r == ZR_OK && first && ZRLastCause() != before)
        std::fprintf(stderr, "zrgate: [%s] warning: %s\n", reader_.name.c_str(), ZRLastCause());
    if (r == ZR_OK) return true;
    cause_ = cause_of(r);
    return false;
}

void Worker::emit(std::string body) {
    ++events_;
    body.insert(0, 1, '{');
    body += run_;
    if (!observer_) {
        publisher_.event(slot_, std::move(body));
        return;
    }
    std::uint64_t seq = 0;
    publisher_.event(slot_, body, &seq);
    observer_(slot_, body + std::to_string(seq) + "}");
}

void Worker::seen(const std::uint8_t* id, std::size_t n, int antenna) {
    ++reads_;
    antenna_reads_[static_cast<std::size_t>(antenna) & 255].fetch_add(1, std::memory_order_relaxed);
    const auto now = Steady::now();
    const auto wall = Wall::now();
    auto hex = hex_text(id, n);
    const auto head = "\"reader\":" + json_string(reader_.name) + ",\"" + id_key_ + "\":\"" + hex +
                      "\",\"antenna\":" + std::to_string(antenna) + ",\"time\":\"" + utc_text(wall) + "\"";
    if (config_.events == Events::reads) {
        emit("\"event\":\"read\"," + head);
        return;
    }
    bool arrived;
    {
        std::lock_guard lock(view_mutex_);
        auto [it, fresh] = present_.try_emplace(std::move(hex), Presence{antenna, now, wall, wall, 0});
        it->second.last = now;
        it->second.last_wall = wall;
        it->second.antenna = antenna;
        ++it->second.reads;
        arrived = fresh;
    }
    if (arrived) emit("\"event\":\"arrived\"," + head);
}

void Worker::expire(Steady::time_point now, bool all) {
    const auto window = milliseconds(config_.window_ms);
    for (auto it = present_.begin(); it != present_.end();) {
        const auto& p = it->second;
        if (!all && now - p.last < window) {
            ++it;
            continue;
        }
        emit("\"event\":\"departed\",\"reader\":" + json_string(reader_.name) + ",\"" + id_key_ + "\":\"" + it->first +
             "\",\"antenna\":" + std::to_string(p.antenna) + ",\"time\":\"" + utc_now() + "\",\"first_seen\":\"" +
             utc_text(p.first_wall) + "\",\"last_seen\":\"" + utc_text(p.last_wall) +
             "\",\"reads\":" + std::to_string(p.reads));
        std::lock_guard lock(view_mutex_);
        it = present_.erase(it);
    }
}

Worker::RoundEnd Worker::round(int antenna) {
    const bool epc = reader_.inventory == Inventory::epc;
    const int start = epc ? ZRIdentifyEpcCode(handle_, antenna, 0, 0)
                          : ZRIdentifyTIDCode(handle_, antenna, 0, 0, reader_.tid_password.data());
    if (start <= 0) {
        cause_ = cause_of(start, "the inventory start could not be sent: the link is lost");
        return RoundEnd::lost;
    }
    // One report per tag, then nothing: the round ends after quiet_ms without a frame.
    unsigned char buffer[256];
    int frames = 0, faults = 0;
    auto last = Steady::now();
    const auto quiet = milliseconds(reader_.quiet_ms);
    for (;;) {
        if (stopping()) return RoundEnd::stopped;
        const int r = epc ? ZREpcCodeReport(handle_, buffer) : ZRTIDCodeReport(handle_, buffer);
        if (r == ZR_OK) {
            if (!online_) set_state(State::online, "");  // before its first event
            ++frames;
            last = Steady::now();
            const int len = buffer[0] * 256 + buffer[1];  // LEN, code, status, identifier
            if (len >= 3 && len <= 252) seen(buffer + 4, static_cast<std::size_t>(len - 2), antenna);
            continue;
        }
        if (r == 0) {
            if (Steady::now() - last >= quiet) break;
            if (reader_.serial) std::this_thread::sleep_for(kSerialPoll);
            continue;
        }
        if (reader_status(r)) {
            if (no_tag(r)) return RoundEnd::ok;
            cause_ = cause_of(r);
            return RoundEnd::bad;
        }
        if (r == ZR_ERR_NO_SESSION) {
            cause_ = cause_of(r);
            return RoundEnd::lost;
        }
        cause_ = cause_of(r);
        if (ZRLinkState(handle_) == 0) return RoundEnd::lost;
        ++faults;  // -4: a frame that did not add up
        last = Steady::now();
    }
    if (frames > 0) return RoundEnd::ok;
    if (faults == 0) cause_ = "the reader did not answer the inventory";
    return RoundEnd::bad;
}

void Worker::run() {
    auto backoff = milliseconds(config_.retry_min_ms);
    int bad_rounds = 0;
    bool lost = false;      // the session is open but its link is not usable
    bool answered = false;  // the reader answered a round since the session was last (re)opened
    while (!stopping()) {
        if (handle_ == -1 || lost) {
            if (!open_session()) {
                set_state(State::reconnecting, cause_);
                if (!pause(backoff)) break;
                backoff = std::min(backoff * 2, milliseconds(config_.retry_max_ms));
                continue;
            }
            if (lost) ++reconnects_;
            lost = false;
            bad_rounds = 0;
        }
        RoundEnd end = RoundEnd::ok;
        bool any_ok = false;
        for (int antenna : reader_.antennas) {
            end = round(antenna);
            if (end == RoundEnd::ok) any_ok = true;
            if (end == RoundEnd::lost || end == RoundEnd::stopped) break;
        }
        if (end == RoundEnd::stopped) break;
        expire(Steady::now(), false);
        if (end == RoundEnd::lost || (!any_ok && ++bad_rounds >= kBadRoundsBeforeReconnect)) {
            lost = true;
            set_state(State::reconnecting, cause_);
            // A reader that was answering is reopened at once (a restart, a cable); one that
            // connects but never answers waits out the back-off like one that refuses.
            if (!answered) {
                if (!pause(backoff)) break;
                backoff = std::min(backoff * 2, milliseconds(config_.retry_max_ms));
            }
            answered = false;
            continue;
        }
        if (any_ok) {
            // Online means answering, not merely connected.
            bad_rounds = 0;
            answered = true;
            backoff = milliseconds(config_.retry_min_ms);
            set_state(State::online, "");
        }
        if (!pause(milliseconds(reader_.pause_ms))) break;
    }
    if (handle_ != -1) ZRClose(&handle_);
    std::string cause = "gateway stopped";
    {
        std::lock_guard lock(stop_.mutex);
        if (retired_ && !stop_.stop) cause = retire_cause_;
    }
    set_state(State::offline, cause);
}

}  // namespace zrgate
