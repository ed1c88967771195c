// The gateway's durable queue: events the broker has not acknowledged yet, in one SQLite file
// (WAL mode), with the gateway's run counter and every reader's last issued seq. Only the
// publisher's spool thread calls into an open Spool; nothing here is thread-safe by itself.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zrgate {

class Spool {
public:
    struct Row {
        std::int64_t id;
        std::string topic, payload;
    };

    // Opens (or creates) `path`, takes it for this process alone and counts this run. nullptr
    // with `error` ("PATH: what SQLite said") when it cannot.
    static std::unique_ptr<Spool> open(const std::string& path, std::string& error);
    // For --check: whether `path` could be opened, without counting a run or leaving a new
    // file behind. `note` says what is in it (or why it cannot be used, then false).
    static bool probe(const std::string& path, std::string& note);

    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    std::uint64_t run() const { return run_; }
    const std::string& path() const { return path_; }
    // The highest seq ever issued for `reader` (0 for a reader never seen).
    std::uint64_t last_seq(const std::string& reader) const;
    // The events waiting: how many, and the first and one-past-last id (first == end when none).
    std::size_t waiting() const { return waiting_; }
    std::int64_t first_id() const { return first_id_; }
    std::int64_t end_id() const { return end_id_; }

    // One transaction: begin, then rows stored, readers' seqs raised, acknowledged ids removed
    // (`acked` is sorted in place), then commit. On a false the transaction is rolled back.
    bool begin(std::string& error);
    bool insert(std::int64_t id, const std::string& topic, const std::string& payload, std::string& error);
    bool raise_seq(const std::string& reader, std::uint64_t seq, std::string& error);
    bool remove(std::vector<std::int64_t>& acked, std::string& error);
    bool commit(std::string& error);
    // Up to `limit` rows from id `from` on, below `below`, in id order.
    bool load(std::int64_t from, std::int64_t below, std::size_t limit, std::vector<Row>& out, std::string& error);
    // Makes what was committed so far survive a power cut (the WAL synced and copied back).
    void checkpoint();
    // Gives the pages of a long outage's events back to the file system, once they are out.
    void shrink();

private:
    Spool() = default;
    bool exec(const char* sql, std::string& error);
    bool fail(std::string& error);  // SQLite's message in `error`, the transaction rolled back
    sqlite3_stmt* prepare(const char* sql, std::string& error);

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr, *remove_ = nullptr, *seq_ = nullptr, *load_ = nullptr;
    std::uint64_t run_ = 0;
    std::map<std::string, std::uint64_t> seqs_;
    std::size_t waiting_ = 0;
    std::int64_t first_id_ = 1, end_id_ = 1;
    bool dirty_ = false;  // committed since the last checkpoint
};

}  // namespace zrgate
