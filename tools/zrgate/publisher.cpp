#include "publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text.h"
#include "tls.h"

namespace zrgate {
namespace {

// Events handed to libmosquitto and not yet acknowledged; the rest wait in our own queue,
// where the bound is kept and drops are counted.
constexpr std::size_t kHandOff = 256;
constexpr int kBrokerInFlight = 100;
// The spool's commits: at most one per this, so that a busy gateway commits many events at once.
constexpr auto kCommitEvery = std::chrono::milliseconds(10);

// `broker_error`: why the connections before this one failed (TLS, credentials; each cause
// once, in order, "; " between), with when the last failed, so that the site learns it once the
// gateway gets through.
std::string gateway_payload(const GatewayConfig& c, const char* state, const std::string& cause,
                            const std::string& broker_error = "", const std::string& broker_error_time = "") {
    std::string p = "{\"state\":\"" + std::string(state) + "\",\"site\":" + json_string(c.site) +
                    ",\"client_id\":" + json_string(c.client_id) + ",\"time\":\"" + utc_now() + "\"";
    if (!cause.empty()) p += ",\"cause\":" + json_string(cause);
    if (!broker_error.empty())
        p += ",\"broker_error\":" + json_string(broker_error) + ",\"broker_error_time\":\"" + broker_error_time + "\"";
    return p + ",\"readers\":" + std::to_string(c.readers.size()) + "}";
}

}  // namespace

Publisher::Publisher(const GatewayConfig& config, std::unique_ptr<Spool> spool)
    : config_(config),
      spool_(std::move(spool)) {
    if (spool_) {
        run_ = spool_->run();
        held_ = spool_->waiting();
        mem_end_ = spool_->first_id();
        next_id_ = committed_end_ = spool_->end_id();
        bound_ = static_cast<std::size_t>(config.spool_bound);
    } else {
        // Nothing remembers the last run: its start time keeps (run, seq) unique instead.
        run_ = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
        bound_ = static_cast<std::size_t>(config.queue_bound);
    }
    for (const auto& r : config.readers) add_reader_locked(r.name);
}

Publisher::~Publisher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (client_) {
        if (loop_started_) {
            mosquitto_disconnect(client_);
            mosquitto_loop_stop(client_, false);
        }
        mosquitto_destroy(client_);
    }
    stop_spool();
}

std::size_t Publisher::add_reader(const std::string& name) {
    std::lock_guard lock(mutex_);
    return add_reader_locked(name);
}

// A reader's slot lives as long as the process: a reader removed and added again goes on with
// its numbers, and its events still waiting keep their topic.
std::size_t Publisher::add_reader_locked(const std::string& name) {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return i;
    names_.push_back(name);
    tag_topics_.push_back(topic(config_.site_topic() + "/" + name + "/tags"));
    issued_.push_back(spool_ ? spool_->last_seq(name) : 0);
    for (auto* v : {&dropped_, &unreported_drops_, &first_dropped_, &last_dropped_}) v->push_back(0);
    return names_.size() - 1;
}

const std::string* Publisher::topic(const std::string& name) {
    auto [it, fresh] = topic_ids_.try_emplace(name, nullptr);
    if (fresh) it->second = &topics_.emplace_back(name);
    return it->second;
}

void Publisher::enqueue(const std::string* topic, std::string payload) {
    ++held_;
    const auto id = next_id_++;
    if (!spool_) {
        queue_.push_back({id, topic, std::move(payload)});
        return;
    }
    if (pending_.empty()) spool_wake_.notify_one();  // the first of a batch; the rest ride along
    pending_.push_back({id, topic, std::move(payload)});
}

// The window onto the spool has room and the spool holds committed events that are not in it.
bool Publisher::spool_wanted() const {
    return spool_ && mem_end_ < committed_end_ && queue_.size() <= static_cast<std::size_t>(config_.queue_bound) / 2;
}

// The spool's thread: commits what event() gathered (a batch per wake-up, so a busy gateway
// pays one commit for many events), removes what the broker acknowledged, brings events that
// are only in the file into memory as the queue empties, and syncs the file once a second.
void Publisher::run_spool() {
    using Clock = std::chrono::steady_clock;
    const auto window = static_cast<std::size_t>(config_.queue_bound);
    std::vector<Event> batch;
    std::vector<std::int64_t> acked;
    std::vector<std::pair<std::string, std::uint64_t>> seqs;
    std::vector<std::uint64_t> persisted;
    std::vector<Spool::Row> rows;
    auto next_sync = Clock::now() + std::chrono::seconds(1);
    auto last_commit = Clock::now() - kCommitEvery;
    bool failing = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        spool_wake_.wait_until(lock, next_sync, [&] {
            return spool_stopping_ || (!failing && (!pending_.empty() || !acked_.empty() || spool_wanted()));
        });
        // A commit writes whole pages: one every kCommitEvery at most, gathering what comes
        // meanwhile, costs far less per event than one per wake-up, and keeps within 50 ms.
        if (!spool_stopping_ && !spool_wanted() && Clock::now() < last_commit + kCommitEvery)
            spool_wake_.wait_until(lock, last_commit + kCommitEvery, [&] { return spool_stopping_; });
        last_commit = Clock::now();
        const bool last = spool_stopping_;
        batch.swap(pending_);
        acked.swap(acked_);
        seqs.clear();
        if (persisted.size() < issued_.size()) persisted.resize(issued_.size());  // readers added
        for (std::size_t r = 0; r < issued_.size(); ++r)
            if (issued_[r] != persisted[r]) seqs.emplace_back(names_[r], issued_[r]);
        lock.unlock();

        std::string error;
        bool ok = true;
        if (!batch.empty() || !acked.empty() || !seqs.empty()) {
            ok = spool_->begin(error);
            for (std::size_t i = 0; ok && i < batch.size(); ++i)
                ok = spool_->insert(batch[i].id, *batch[i].topic, batch[i].payload, error);
            for (std::size_t i = 0; ok && i < seqs.size(); ++i)
                ok = spool_->raise_seq(seqs[i].first, seqs[i].second, error);
            ok = ok && spool_->remove(acked, error) && spool_->commit(error);
        }
        if (ok && failing) std::fprintf(stderr, "zrgate: spool %s: writing again\n", spool_->path().c_str());
        if (!ok && !failing)
            std::fprintf(stderr, "zrgate: spool %s; events wait in memory and are retried every second\n", error.c_str());

        lock.lock();
        failing = !ok;
        if (!ok) {
            // Kept for the next try, in order: nothing goes to the broker before it is in the file.
            batch.insert(batch.end(), std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
            pending_.swap(batch);
            acked_.insert(acked_.end(), acked.begin(), acked.end());
        } else {
            for (std::size_t r = 0, i = 0; r < persisted.size() && i < seqs.size(); ++r)
                if (names_[r] == seqs[i].first) persisted[r] = seqs[i++].second;
            if (!batch.empty()) committed_end_ = batch.back().id + 1;
            // Straight into memory when nothing older is waiting in the file only.
            for (auto& e : batch) {
                if (e.id != mem_end_ || queue_.size() >= window) break;
                queue_.push_back(std::move(e));
                ++mem_end_;
            }
        }
        batch.clear();
        acked.clear();
        while (!failing && spool_wanted()) {
            const auto from = mem_end_, below = committed_end_;
            const auto limit = window - queue_.size();
            rows.clear();
            lock.unlock();
            const bool loaded = spool_->load(from, below, limit, rows, error);
            lock.lock();
            if (!loaded) {
                std::fprintf(stderr, "zrgate: spool %s\n", error.c_str());
                failing = true;
                break;
            }
            for (auto& row : rows) queue_.push_back({row.id, topic(row.topic), std::move(row.payload)});
            mem_end_ = rows.empty() ? below : rows.back().id + 1;
        }
        wake_.notify_all();
        if (last) break;
        if (Clock::now() >= next_sync) {
            const bool empty = held_ == 0;
            lock.unlock();
            if (empty) spool_->shrink();
            spool_->checkpoint();
            lock.lock();
            next_sync = Clock::now() + std::chrono::seconds(1);
        }
    }
}

void Publisher::stop_spool() {
    if (!spool_thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        spool_stopping_ = true;
    }
    spool_wake_.notify_all();
    spool_thread_.join();
    spool_->checkpoint();
}

bool Publisher::start(std::string& error) {
    client_ = mosquitto_new(config_.client_id.c_str(), true, this);
    if (!client_) {
        error = "cannot create the MQTT client";
        return false;
    }
    mosquitto_connect_callback_set(client_, on_connect);
    mosquitto_disconnect_callback_set(client_, on_disconnect);
    mosquitto_publish_callback_set(client_, on_publish);
    // Only TLS failures need the log; with a callback set libmosquitto formats a line for every
    // packet sent and received, in the publishing thread too.
    if (!config_.ca_file.empty()) mosquitto_log_callback_set(client_, on_log);
    mosquitto_max_inflight_messages_set(client_, kBrokerInFlight);
    // Events are small and each one is wanted at once: no waiting to fill a segment.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    const unsigned delay_min = static_cast<unsigned>((config_.retry_min_ms + 999) / 1000);
    const unsigned delay_max = std::max(delay_min, static_cast<unsigned>((config_.retry_max_ms + 999) / 1000));
    mosquitto_reconnect_delay_set(client_, delay_min, delay_max, true);

    const auto status_topic = config_.site_topic() + "/status";
    const auto will = gateway_payload(config_, "offline", "connection lost");
    int rc = mosquitto_will_set(client_, status_topic.c_str(), static_cast<int>(will.size()), will.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !config_.username.empty())
        rc = mosquitto_username_pw_set(client_, config_.username.c_str(), config_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && !config_.ca_file.empty())
        rc = mosquitto_tls_set(client_, config_.ca_file.c_str(), nullptr,
                               config_.cert_file.empty() ? nullptr : config_.cert_file.c_str(),
                               config_.key_file.empty() ? nullptr : config_.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("MQTT client setup: ") + mosquitto_strerror(rc);
        return false;
    }
    status(status_topic, gateway_payload(config_, "online", ""));
    if (spool_) spool_thread_ = std::thread([this] { run_spool(); });
    thread_ = std::thread([this] {
        if (connect_first()) run_broker();
    });
    return true;
}

// A broker that is not up yet is no reason to stop. Once a connection attempt is under way,
// libmosquitto's network thread reconnects by itself; an attempt that fails at once (refused,
// no such host) it does not retry, so the first one is retried here.
bool Publisher::connect_first() {
    auto delay = std::chrono::milliseconds(config_.retry_min_ms);
    for (bool told = false;;) {
        if (!config_.ca_file.empty()) {
            // Asked before libmosquitto's TLS connection, which spins on a port nobody listens on.
            if (const auto away = broker_reachable(config_); !away.empty()) {
                broker_error("cannot connect: " + away);
                told = true;
                std::unique_lock lock(mutex_);
                if (wake_.wait_for(lock, delay, [&] { return stopping_; })) return false;
                delay = std::min(delay * 2, std::chrono::milliseconds(config_.retry_max_ms));
                continue;
            }
        }
        const int rc = mosquitto_connect_async(client_, config_.broker.c_str(), config_.port, config_.keepalive_s);
        if (rc == MOSQ_ERR_SUCCESS) break;
        if (rc == MOSQ_ERR_TLS) {
            std::string why = diagnose_tls(config_);
            broker_error(why.empty() ? "TLS: " + std::string(mosquitto_strerror(rc)) : why);
            told = true;
        }
        if (!told)
            std::fprintf(stderr, "zrgate: broker %s:%d: %s; retrying\n", config_.broker.c_str(), config_.port,
                         rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
        told = true;
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, delay, [&] { return stopping_; })) return false;
        delay = std::min(delay * 2, std::chrono::milliseconds(config_.retry_max_ms));
    }
    const int rc = mosquitto_loop_start(client_);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "zrgate: MQTT network thread: %s\n", mosquitto_strerror(rc));
        return false;
    }
    loop_started_ = true;  // read by stop() and the destructor only after joining this thread
    return true;
}

bool Publisher::event(std::size_t reader, std::string head, std::uint64_t* given) {
    {
        std::lock_guard lock(mutex_);
        const auto seq = ++issued_[reader];
        if (given) *given = seq;
        queue_notices();
        if (held_ >= bound_) {
            // A notice goes out as soon as there is room, before any later event: the numbers
            // one notice stands for are a single run.
            if (!unreported_drops_[reader]) first_dropped_[reader] = seq;
            last_dropped_[reader] = seq;
            ++dropped_[reader];
            ++unreported_drops_[reader];
            ++dropped_total_;
            return false;
        }
        head += std::to_string(seq);
        head += '}';
        enqueue(tag_topics_[reader], std::move(head));
    }
    if (!spool_) wake_.notify_all();  // with a spool, its thread passes the event on once committed
    return true;
}

void Publisher::status(const std::string& topic, std::string payload) {
    {
        std::lock_guard lock(mutex_);
        statuses_[topic] = std::move(payload);
        unsent_statuses_.insert(topic);
    }
    wake_.notify_all();
}

void Publisher::transient(const std::string& topic, std::string payload) {
    std::lock_guard lock(mutex_);
    if (connected_) send(topic, payload, false, Kind::other);
}

// A "dropped" notice takes the place of the events it stands for, as soon as there is room.
void Publisher::queue_notices() {
    for (std::size_t r = 0; r < unreported_drops_.size(); ++r) {
        if (!unreported_drops_[r]) continue;
        if (held_ >= bound_) return;
        enqueue(tag_topics_[r], "{\"event\":\"dropped\",\"reader\":" + json_string(names_[r]) +
                                 ",\"count\":" + std::to_string(unreported_drops_[r]) +
                                 ",\"first_seq\":" + std::to_string(first_dropped_[r]) +
                                 ",\"last_seq\":" + std::to_string(last_dropped_[r]) + ",\"run\":" + std::to_string(run_) + ",\"time\":\"" + utc_now() + "\"}");
        unreported_drops_[r] = 0;
    }
}

bool Publisher::send(const std::string& topic, const std::string& payload, bool retain, Kind kind, std::int64_t id) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                     config_.qos, retain);
    if (rc == MOSQ_ERR_SUCCESS) {
        // Under our lock, so that the acknowledgement (on the network thread) finds the entry.
        in_flight_[mid] = {kind, id};
        if (kind == Kind::event) ++events_in_flight_;
        return true;
    }
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_NOMEM) {
        connected_ = false;  // kept; sent after the next connection
        return false;
    }
    std::fprintf(stderr, "zrgate: cannot publish on %s: %s; discarded\n", topic.c_str(), mosquitto_strerror(rc));
    if (kind == Kind::event) forget(id);
    return true;
}

// An event the broker has (or that can never be sent): out of the count and out of the spool.
void Publisher::forget(std::int64_t id) {
    --held_;
    if (!spool_) return;
    if (acked_.empty()) spool_wake_.notify_one();
    acked_.push_back(id);
}

void Publisher::run_broker() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait(lock, [&] {
            return stopping_ || restart_ ||
                   (connected_ && (!unsent_statuses_.empty() || (!queue_.empty() && events_in_flight_ < kHandOff)));
        });
        if (restart_ && !stopping_) {
            // libmosquitto's network thread ends after a TLS failure instead of retrying: it is
            // joined and the connection started again, with back-off.
            restart_ = false;
            std::string tls_log;
            tls_log.swap(tls_log_);
            lock.unlock();
            mosquitto_disconnect(client_);  // a network thread still running ends
            mosquitto_loop_stop(client_, false);
            loop_started_ = false;
            if (!tls_log.empty()) {
                // libmosquitto says only that OpenSSL failed; a handshake of our own says why.
                auto why = diagnose_tls(config_);
                broker_error(why.empty() ? "TLS: " + tls_log : why);
            }
            std::unique_lock pause(mutex_);
            const bool stop_now = wake_.wait_for(pause, tls_delay_, [&] { return stopping_; });
            tls_delay_ = std::min(tls_delay_ * 2, std::chrono::milliseconds(config_.retry_max_ms));
            pause.unlock();
            if (stop_now || !connect_first()) return;
            lock.lock();
            continue;
        }
        // Statuses first: a consumer that sees a reader's events should already see it online.
        while (!stopping_ && connected_ && !unsent_statuses_.empty()) {
            const auto topic = *unsent_statuses_.begin();
            if (!send(topic, statuses_[topic], true, Kind::status)) break;
            unsent_statuses_.erase(topic);
        }
        while (!stopping_ && connected_ && !queue_.empty() && events_in_flight_ < kHandOff) {
            const auto& e = queue_.front();
            if (!send(*e.topic, e.payload, false, Kind::event, e.id)) break;
            queue_.pop_front();
            queue_notices();
            if (spool_wanted()) spool_wake_.notify_one();
        }
        wake_.notify_all();  // stop() waits on the same condition
    }
}

std::size_t Publisher::stop(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const auto status_topic = config_.site_topic() + "/status";
    std::unique_lock lock(mutex_);
    queue_notices();
    wake_.notify_all();
    wake_.wait_until(lock, deadline, [&] { return held_ == 0 && unsent_statuses_.empty(); });
    const std::size_t left = held_;

    statuses_[status_topic] = gateway_payload(config_, "offline", "stopped");
    unsent_statuses_.insert(status_topic);
    wake_.notify_all();
    // The offline status gets a moment of its own even when the events took the whole bound.
    const auto status_deadline = std::max(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(1));
    wake_.wait_until(lock, status_deadline, [&] {
        if (unsent_statuses_.count(status_topic)) return false;
        for (const auto& [mid, flight] : in_flight_)
            if (flight.kind == Kind::status) return false;
        return true;
    });
    stopping_ = true;
    lock.unlock();
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (loop_started_) {
        // Without a connection there is nothing to disconnect, and libmosquitto's thread goes on
        // trying to reconnect for ever: it is ended rather than waited for.
        const bool disconnecting = mosquitto_disconnect(client_) == MOSQ_ERR_SUCCESS;
        mosquitto_loop_stop(client_, !disconnecting);
        loop_started_ = false;
    }
    // No acknowledgement can come now: the spool gets its last commit and sync.
    stop_spool();
    return left;
}

Publisher::Counters Publisher::counters() const {
    std::lock_guard lock(mutex_);
    Counters c;
    c.published = published_;
    c.queued = held_ - events_in_flight_;
    c.spooled = spool_ ? held_ : 0;
    c.in_flight = events_in_flight_;
    c.dropped = dropped_total_;
    c.connects = connects_;
    c.connected = connected_;
    c.dropped_by_reader = dropped_;
    return c;
}

void Publisher::broker_error(const std::string& what) {
    bool fresh;
    {
        std::lock_guard lock(mutex_);
        fresh = std::find(broker_errors_.begin(), broker_errors_.end(), what) == broker_errors_.end();
        if (fresh && broker_errors_.size() < 8) broker_errors_.push_back(what);
        broker_error_time_ = utc_now();
    }
    // Once per cause until connected: a broker refused every few seconds for an hour says it once.
    if (fresh)
        std::fprintf(stderr, "zrgate: broker %s:%d: %s; retrying with back-off\n", config_.broker.c_str(), config_.port,
                     what.c_str());
}

void Publisher::on_connect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<Publisher*>(self);
    if (rc != 0) {
        std::string what = mosquitto_connack_string(rc);
        if (rc == 4 || rc == 5)  // MQTT 3.1.1: bad user name or password; not authorised
            what = "refused the credentials" +
                   (p->config_.username.empty() ? std::string(" (none given: credentials in [gateway])")
                                                : " of user '" + p->config_.username + "' from " +
                                                      p->config_.credentials_file) +
                   ": " + what;
        else
            what = "refused the connection: " + what;
        p->broker_error(what);
        return;
    }
    std::string after;
    {
        std::lock_guard lock(p->mutex_);
        p->connected_ = true;
        ++p->connects_;
        p->tls_delay_ = std::chrono::milliseconds(p->config_.retry_min_ms);
        for (const auto& e : p->broker_errors_) after += (after.empty() ? "" : "; ") + e;
        if (!after.empty()) {
            // The retained status says why the site could not hear from the gateway until now.
            p->statuses_[p->config_.site_topic() + "/status"] =
                gateway_payload(p->config_, "online", "", after, p->broker_error_time_);
            p->broker_errors_.clear();
        }
        for (const auto& [topic, payload] : p->statuses_) p->unsent_statuses_.insert(topic);
    }
    std::fprintf(stderr, "zrgate: connected to broker %s:%d%s%s\n", p->config_.broker.c_str(), p->config_.port,
                 after.empty() ? "" : " (before: ", after.empty() ? "" : (after + ")").c_str());
    p->wake_.notify_all();
}

void Publisher::on_disconnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<Publisher*>(self);
    bool was, tls_failed;
    {
        std::lock_guard lock(p->mutex_);
        was = p->connected_;
        p->connected_ = false;
        tls_failed = !p->tls_log_.empty();
    }
    if (rc != 0 && was)
        std::fprintf(stderr, "zrgate: lost the broker %s:%d; events are queued until it is back\n",
                     p->config_.broker.c_str(), p->config_.port);
    // An attempt the broker never answers (one that met its restart, say) ends only with the
    // keep-alive, which libmosquitto's own text does not name.
    if (rc != 0 && !was && rc != MOSQ_ERR_TLS && rc != MOSQ_ERR_CONN_REFUSED && !tls_failed)
        p->broker_error(rc == MOSQ_ERR_KEEPALIVE
                            ? "no answer within keepalive_s (" + std::to_string(p->config_.keepalive_s) + " s)"
                            : std::string("cannot connect: ") +
                                  (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)));
    if (rc == MOSQ_ERR_TLS || (rc != 0 && !p->config_.ca_file.empty())) {
        // After a TLS failure its network thread stops; after any other loss over TLS run()
        // reconnects too, asking first whether the broker is there (see connect_first).
        {
            std::lock_guard lock(p->mutex_);
            p->restart_ = true;
        }
        p->wake_.notify_all();
    }
}

// OpenSSL's errors come only through the log, and libmosquitto's network thread stops after
// them without a word to on_disconnect: run() asks why and connects again.
void Publisher::on_log(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || !text || !std::strstr(text, "OpenSSL")) return;
    auto* p = static_cast<Publisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed": the reason.
        const char* reason = std::strrchr(text, ':');
        if (p->tls_log_.empty()) p->tls_log_ = reason && reason[1] ? reason + 1 : text;
        p->restart_ = true;
    }
    p->wake_.notify_all();
}

void Publisher::on_publish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<Publisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        auto it = p->in_flight_.find(mid);
        if (it == p->in_flight_.end()) return;
        if (it->second.kind == Kind::event) {
            --p->events_in_flight_, ++p->published_;
            p->forget(it->second.id);
        }
        p->in_flight_.erase(it);
        p->queue_notices();  // the room just made may be the first since events were dropped
    }
    p->wake_.notify_all();
}

}  // namespace zrgate
