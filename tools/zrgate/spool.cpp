#include "spool.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace zrgate {
namespace {

// 'zrg1' in the file's header: a file that holds something else is not taken over.
constexpr int kApplicationId = 0x7a726731;

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS readers(name TEXT PRIMARY KEY, seq INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, topic TEXT NOT NULL, payload BLOB NOT NULL);";

std::string said(sqlite3* db, int rc) { return db ? sqlite3_errmsg(db) : sqlite3_errstr(rc); }

struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

}  // namespace

bool Spool::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = path_ + ": " + (message ? message : "unknown SQLite error");
    sqlite3_free(message);
    return false;
}

sqlite3_stmt* Spool::prepare(const char* sql, std::string& error) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        error = path_ + ": " + sqlite3_errmsg(db_);
        return nullptr;
    }
    return s;
}

std::unique_ptr<Spool> Spool::open(const std::string& path, std::string& error) {
    std::unique_ptr<Spool> s(new Spool);
    s->path_ = path;
    const int rc = sqlite3_open_v2(path.c_str(), &s->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        error = path + ": " + said(s->db_, rc);
        return nullptr;
    }
    sqlite3_busy_timeout(s->db_, 0);
    // Exclusive: a second gateway on the same file is refused instead of sharing the queue.
    // The run is counted with a full sync, the events later with NORMAL (WAL: a commit is a
    // write, the checkpoint every second is the sync).
    // auto_vacuum before anything is written to a new file (a no-op on an older one): lets
    // shrink() give pages back.
    if (!s->exec("PRAGMA locking_mode=EXCLUSIVE; PRAGMA auto_vacuum=INCREMENTAL; PRAGMA journal_mode=WAL;"
                 " PRAGMA synchronous=FULL;",
                 error))
        return nullptr;
    {
        Statement st;
        if (sqlite3_prepare_v2(s->db_, "PRAGMA application_id", -1, &st.s, nullptr) != SQLITE_OK ||
            sqlite3_step(st.s) != SQLITE_ROW) {
            error = path + ": " + sqlite3_errmsg(s->db_);
            return nullptr;
        }
        const int id = sqlite3_column_int(st.s, 0);
        if (id != 0 && id != kApplicationId) {
            error = path + ": not a zrgate spool (another application's database)";
            return nullptr;
        }
    }
    if (!s->exec("BEGIN IMMEDIATE", error)) return nullptr;
    if (!s->exec(kSchema, error) || !s->exec("PRAGMA application_id=2054317873", error) ||
        !s->exec("INSERT INTO meta VALUES('run', 1) ON CONFLICT(key) DO UPDATE SET value = value + 1", error) ||
        !s->exec("COMMIT", error))
        return nullptr;
    if (!s->exec("PRAGMA synchronous=NORMAL", error)) return nullptr;

    Statement run, readers, span;
    if (sqlite3_prepare_v2(s->db_, "SELECT value FROM meta WHERE key='run'", -1, &run.s, nullptr) != SQLITE_OK ||
        sqlite3_step(run.s) != SQLITE_ROW ||
        sqlite3_prepare_v2(s->db_, "SELECT name, seq FROM readers", -1, &readers.s, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(s->db_, "SELECT count(*), min(id), max(id) FROM events", -1, &span.s, nullptr) != SQLITE_OK ||
        sqlite3_step(span.s) != SQLITE_ROW) {
        error = path + ": " + sqlite3_errmsg(s->db_);
        return nullptr;
    }
    s->run_ = static_cast<std::uint64_t>(sqlite3_column_int64(run.s, 0));
    while (sqlite3_step(readers.s) == SQLITE_ROW)
        s->seqs_[reinterpret_cast<const char*>(sqlite3_column_text(readers.s, 0))] =
            static_cast<std::uint64_t>(sqlite3_column_int64(readers.s, 1));
    s->waiting_ = static_cast<std::size_t>(sqlite3_column_int64(span.s, 0));
    if (s->waiting_) {
        s->first_id_ = sqlite3_column_int64(span.s, 1);
        s->end_id_ = sqlite3_column_int64(span.s, 2) + 1;
    }
    if (!(s->insert_ = s->prepare("INSERT INTO events(id, topic, payload) VALUES(?, ?, ?)", error)) ||
        !(s->remove_ = s->prepare("DELETE FROM events WHERE id BETWEEN ? AND ?", error)) ||
        !(s->seq_ = s->prepare("INSERT INTO readers VALUES(?, ?) ON CONFLICT(name) DO UPDATE SET seq = max(seq, excluded.seq)",
                               error)) ||
        !(s->load_ = s->prepare("SELECT id, topic, payload FROM events WHERE id >= ? AND id < ? ORDER BY id LIMIT ?", error)))
        return nullptr;
    return s;
}

bool Spool::probe(const std::string& path, std::string& note) {
    struct stat st{};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    sqlite3* db = nullptr;
    const int flags = existed ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    bool ok = rc == SQLITE_OK;
    if (ok && !existed) {
        // SQLite creates the file on the first write: make one, so that a directory that
        // cannot take the file says so now, then leave nothing behind.
        rc = sqlite3_exec(db, "CREATE TABLE probe(x)", nullptr, nullptr, nullptr);
        ok = rc == SQLITE_OK;
        if (ok) note = "a new file";
        else note = said(db, rc);
    } else if (ok) {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM events", -1, &s, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) note = std::to_string(sqlite3_column_int64(s, 0)) + " event(s) waiting";
        else if (rc == SQLITE_BUSY) note = "in use by a running gateway";
        else if (std::string(sqlite3_errmsg(db)).starts_with("no such table") && st.st_size == 0) note = "an empty file";
        else ok = false, note = said(db, rc);
        sqlite3_finalize(s);
    } else {
        note = said(db, rc);
    }
    sqlite3_close(db);
    if (!existed) {
        ::unlink(path.c_str());
        ::unlink((path + "-journal").c_str());
    }
    return ok;
}

Spool::~Spool() {
    for (auto* s : {insert_, remove_, seq_, load_}) sqlite3_finalize(s);
    if (db_) {
        if (dirty_) checkpoint();
        sqlite3_close(db_);
    }
}

std::uint64_t Spool::last_seq(const std::string& reader) const {
    auto it = seqs_.find(reader);
    return it == seqs_.end() ? 0 : it->second;
}

bool Spool::begin(std::string& error) { return exec("BEGIN", error); }

bool Spool::fail(std::string& error) {
    error = path_ + ": " + sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool Spool::insert(std::int64_t id, const std::string& topic, const std::string& payload, std::string& error) {
    sqlite3_bind_int64(insert_, 1, id);
    sqlite3_bind_text(insert_, 2, topic.data(), static_cast<int>(topic.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert_, 3, payload.data(), static_cast<int>(payload.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    return rc == SQLITE_DONE || fail(error);
}

bool Spool::raise_seq(const std::string& reader, std::uint64_t seq, std::string& error) {
    sqlite3_bind_text(seq_, 1, reader.data(), static_cast<int>(reader.size()), SQLITE_STATIC);
    sqlite3_bind_int64(seq_, 2, static_cast<sqlite3_int64>(seq));
    const int rc = sqlite3_step(seq_);
    sqlite3_reset(seq_);
    return rc == SQLITE_DONE || fail(error);
}

bool Spool::remove(std::vector<std::int64_t>& acked, std::string& error) {
    // Acknowledgements come nearly in order: one statement per run of neighbouring ids.
    std::sort(acked.begin(), acked.end());
    for (std::size_t i = 0; i < acked.size();) {
        std::size_t j = i;
        while (j + 1 < acked.size() && acked[j + 1] <= acked[j] + 1) ++j;
        sqlite3_bind_int64(remove_, 1, acked[i]);
        sqlite3_bind_int64(remove_, 2, acked[j]);
        const int rc = sqlite3_step(remove_);
        sqlite3_reset(remove_);
        if (rc != SQLITE_DONE) return fail(error);
        i = j + 1;
    }
    return true;
}

bool Spool::commit(std::string& error) {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail(error);
    dirty_ = true;
    return true;
}

bool Spool::load(std::int64_t from, std::int64_t below, std::size_t limit, std::vector<Row>& out, std::string& error) {
    sqlite3_bind_int64(load_, 1, from);
    sqlite3_bind_int64(load_, 2, below);
    sqlite3_bind_int64(load_, 3, static_cast<sqlite3_int64>(limit));
    int rc;
    while ((rc = sqlite3_step(load_)) == SQLITE_ROW) {
        Row r;
        r.id = sqlite3_column_int64(load_, 0);
        r.topic.assign(reinterpret_cast<const char*>(sqlite3_column_text(load_, 1)),
                       static_cast<std::size_t>(sqlite3_column_bytes(load_, 1)));
        r.payload.assign(static_cast<const char*>(sqlite3_column_blob(load_, 2)),
                         static_cast<std::size_t>(sqlite3_column_bytes(load_, 2)));
        out.push_back(std::move(r));
    }
    sqlite3_reset(load_);
    if (rc != SQLITE_DONE) {
        error = path_ + ": " + sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

void Spool::shrink() {
    sqlite3_stmt* s = nullptr;
    sqlite3_int64 free_pages = 0;
    if (sqlite3_prepare_v2(db_, "PRAGMA freelist_count", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        free_pages = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    // A few free pages are reused soon enough; a thousand (4 MB) are an outage's leftovers.
    if (free_pages < 1000) return;
    sqlite3_exec(db_, "PRAGMA incremental_vacuum", nullptr, nullptr, nullptr);
    dirty_ = true;
}

void Spool::checkpoint() {
    if (!dirty_) return;
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    dirty_ = false;
}

}  // namespace zrgate
