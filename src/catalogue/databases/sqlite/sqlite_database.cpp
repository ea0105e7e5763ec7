// The SQLite backend: rows go in through one prepared statement in large
// transactions; the run's row says 'running' until the end is recorded.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "catalogue/database_backend.hpp"
#include "catalogue/databases/sqlite/sqlite_schema.hpp"
#include "core/columns.hpp"

namespace filarix {

namespace {

using sqlite_schema::execute;

// Another writer holds the database at most this long before the run gives up on it.
constexpr int busy_timeout_ms = 5000;
// Rows go in by the transaction: a commit per 8,192 rows, or every few
// seconds when rows come slowly (digests of large files). Commits this
// often let SQLite copy the WAL into the file on the writer thread, beside
// the walk, each time it passes wal_bytes (SQLite's own mark is 1,000
// pages, 16 MB here): the end of a run then has only its last rows to
// commit and copy, where it used to copy most of the database after the
// walk, with nothing else running.
constexpr std::uint64_t rows_per_commit = 8192;
constexpr std::int64_t commit_interval_ms = 3000;
constexpr std::int64_t wal_bytes = 4 << 20;
// The rows only add to the right edge of the table and of the path index,
// and a commit's pages are a few MiB: a small page cache holds them and
// spares the writer the page faults of a large one. Sorting a digest's
// index at the end gets more, as SQLite's sorter takes its memory from it.
constexpr int cache_kib_writing = 8192;
constexpr int cache_kib_sorting = 32768;
// The record thread hands rows to the writer in batches, at most a second
// old; a few batches wait at most, so memory stays bounded. The writer,
// not the record thread, watches the clock: a writer left without rows
// that long asks for the batch, which the next row hands over.
constexpr std::size_t rows_per_batch = 1024;
constexpr std::chrono::milliseconds batch_interval{1000};
constexpr std::size_t batches_waiting = 8;
// While the writer makes the database ready, more may wait: the walk need
// not stop for the syncs of a new file (some 50,000 rows of small files).
constexpr std::size_t batches_waiting_opening = 64;
// Rows go in by INSERTs of this many rows each, within the 999 bound
// values every SQLite allows: one statement's step does the work of many.
constexpr std::size_t rows_per_insert = 32;
constexpr std::size_t values_per_insert = 999;

// What a statement's parameter holds, which stays bound from one step to
// the next: a value the row repeats (the kind, the volume, a NULL) is not
// bound again. Binding is a good part of the writer's work per field, and
// many of a run's fields hold the same in every row. The text is the
// writer's own copy, as the batch it came from is filled again.
struct Bound {
    enum State : std::uint8_t { unset, null, value } state = unset;
    std::string text;
};

// Rows copied out of the record's fields: each field's length (-1 for
// NULL), in room for a whole batch kept from batch to batch, and their
// bytes one after another.
struct Batch {
    std::vector<std::int32_t> lengths;
    std::string bytes;
    std::size_t rows = 0;
};

std::string cache_size(int kib) {
    return "PRAGMA cache_size = -" + std::to_string(kib);
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK)
            statement_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    void text(int at, const std::string& value) {
        sqlite3_bind_text(statement_, at, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// The rows go in on a writer thread of their own, so that the walk goes on
// while SQLite stores them: the record thread only copies each row's
// fields. A failure, making the database ready too, is seen at the next row
// and at the end.
class SqliteSink final : public CatalogueSink {
public:
    SqliteSink(sqlite3* db, std::function<std::int64_t()> now_ms)
        : db_(db), now_ms_(std::move(now_ms)) {}
    ~SqliteSink() override {
        stop_writer();
        sqlite3_finalize(insert_);
        sqlite3_finalize(insert_many_);
        sqlite3_close(db_);
    }

    // The fields the rows hold, then the writer thread: it makes the
    // database ready (its pragmas, tables and run row, a few syncs of the
    // disk) while the walk begins, and stores the rows after.
    void start(const RunFacts& facts) {
        fields_ = facts.row_fields;
        for (const Field f : fields_) {
            number_.push_back(field_type(f) == FieldType::number);
            const auto digest =
                static_cast<std::size_t>(f) - static_cast<std::size_t>(Field::digest);
            digest_of_.push_back(
                f >= Field::digest && digest < digest_count ? static_cast<int>(digest) : -1);
        }
        writer_ = std::thread([this, facts] {
            std::string why;
            const bool ready = open_run(facts, why);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                opened_ = true;
                if (!ready) {
                    error_ = why;
                    failed_ = true;
                }
            }
            room_.notify_all();
            write_batches();
        });
    }

    bool ready() override {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return opened_; });
        return !failed_;
    }

    bool add_row(const RowValues& row) override {
        if (failed_) return false;
        // The record thread's share of the work, kept small: the lengths go
        // where a batch made room for them once, the bytes one after another.
        const std::size_t count = fields_.size();
        if (current_.lengths.size() < (current_.rows + 1) * count)
            current_.lengths.resize(std::max(rows_per_batch, current_.rows + 1) * count);
        std::int32_t* lengths = current_.lengths.data() + current_.rows * count;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string* value = row[static_cast<std::size_t>(fields_[i])];
            if (!value) {
                lengths[i] = -1;
                continue;
            }
            lengths[i] = static_cast<std::int32_t>(value->size());
            current_.bytes.append(*value);
        }
        ++current_.rows;
        if (current_.rows >= rows_per_batch || batch_wanted_.load(std::memory_order_relaxed))
            push_batch();
        return !failed_;
    }

    bool finish(const RunSummary& summary) override {
        push_batch();
        stop_writer();
        if (failed_ || !commit()) return false;
        // A digest's index is built once the rows are in: digests come in
        // no order, so keeping it up to date row by row costs more.
        if (!execute(db_, cache_size(cache_kib_sorting), error_)) return false;
        for (const DigestRow& digest : digest_rows)
            if (filled_[digest_index(digest.id)] &&
                !execute(db_,
                         "CREATE INDEX IF NOT EXISTS " +
                             quoted_name((std::string("entries_") + digest.field).c_str()) +
                             " ON entries(" + quoted_name(digest.field) + ")",
                         error_))
                return false;
        return record_end(summary);
    }

    std::string error() const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

private:
    bool fail() {
        error_ = sqlite3_errmsg(db_);
        return false;
    }

    // On the writer thread, before any row.
    bool open_run(const RunFacts& facts, std::string& why) {
        // A new file gets pages of 16 KiB: a quarter of the writes and page
        // allocations of the default 4 KiB for the same rows. WAL: readers go
        // on while the run writes; NORMAL sync is safe with it.
        if (!execute(db_, "PRAGMA page_size = 16384", why) ||
            !execute(db_, "PRAGMA journal_mode = WAL", why) ||
            !execute(db_, "PRAGMA synchronous = NORMAL", why) ||
            !execute(db_, cache_size(cache_kib_writing), why) || !checkpoint_by_size(why) ||
            !sqlite_schema::migrate(db_, why))
            return false;
        const auto failed = [&] {
            why = sqlite3_errmsg(db_);
            return false;
        };
        Statement run(db_,
                      "INSERT INTO runs(host, user_name, start_paths, command_line, digests, "
                      "listing_format, fields, started, status) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, 'running')");
        if (!run) return failed();
        const std::string* values[] = {&facts.host,         &facts.user,    &facts.start_paths,
                                       &facts.command_line, &facts.digests, &facts.listing_format,
                                       &facts.fields,       &facts.started};
        for (int i = 0; i < 8; ++i) run.text(i + 1, *values[i]);
        if (sqlite3_step(run.get()) != SQLITE_DONE) return failed();
        run_id_ = sqlite3_last_insert_rowid(db_);

        // Only the fields the run's rows can hold are bound; the others
        // stay NULL. The run's number is written into the statement.
        // OR FAIL: no row can break a constraint (run_id is a number), and
        // a statement that may not undo its earlier rows needs no statement
        // journal, into which SQLite would otherwise copy every page each
        // INSERT of 32 rows touches before changing it. A write that fails
        // still rolls the whole transaction back.
        std::string sql = "INSERT OR FAIL INTO entries(run_id";
        std::string places = "(";
        places += std::to_string(run_id_);
        for (const Field f : fields_) {
            sql += ", " + quoted_name(field_name(f));
            places += ", ?";
        }
        sql += ") VALUES";
        places += ")";
        rows_per_many_ = std::min(rows_per_insert, values_per_insert / (fields_.size() + 1));
        std::string many = sql + places;
        for (std::size_t r = 1; r < rows_per_many_; ++r) many += ", " + places;
        bound_one_.resize(fields_.size());
        bound_many_.resize(fields_.size() * rows_per_many_);
        if (sqlite3_prepare_v2(db_, (sql + places).c_str(), -1, &insert_, nullptr) != SQLITE_OK ||
            (rows_per_many_ > 1 &&
             sqlite3_prepare_v2(db_, many.c_str(), -1, &insert_many_, nullptr) != SQLITE_OK))
            return failed();
        // The path index is kept up to date as the rows go in, on the writer
        // thread beside the walk: the rows come in nearly in its order, which
        // costs less than building it at the end, when nothing else runs.
        if (!execute(db_, "CREATE INDEX IF NOT EXISTS entries_run_path ON entries(run_id, path)",
                     why))
            return false;
        committed_ms_ = now_ms_();
        return execute(db_, "BEGIN", why);
    }

    // The WAL is copied into the file once it holds wal_bytes, whatever the
    // page size of the file (an older file may have 4 KiB pages).
    bool checkpoint_by_size(std::string& why) {
        Statement size(db_, "PRAGMA page_size");
        if (!size || sqlite3_step(size.get()) != SQLITE_ROW) {
            why = sqlite3_errmsg(db_);
            return false;
        }
        const std::int64_t page = std::max<std::int64_t>(sqlite3_column_int64(size.get(), 0), 512);
        return execute(db_, "PRAGMA wal_autocheckpoint = " + std::to_string(wal_bytes / page), why);
    }
    bool commit() {
        if (sqlite3_get_autocommit(db_)) return true;
        pending_ = 0;
        return execute(db_, "COMMIT", error_);
    }

    bool record_end(const RunSummary& summary) {
        Statement end(db_,
                      "UPDATE runs SET status = ?, finished = ?, files = ?, directories = ?, "
                      "bytes = ? WHERE run_id = ?");
        if (!end) return fail();
        end.text(1, run_status_text(summary.outcome));
        end.text(2, summary.finished);
        sqlite3_bind_int64(end.get(), 3, static_cast<sqlite3_int64>(summary.files));
        sqlite3_bind_int64(end.get(), 4, static_cast<sqlite3_int64>(summary.directories));
        sqlite3_bind_int64(end.get(), 5, summary.bytes);
        sqlite3_bind_int64(end.get(), 6, run_id_);
        return sqlite3_step(end.get()) == SQLITE_DONE || fail();
    }

    void push_batch() {
        batch_wanted_.store(false, std::memory_order_relaxed);
        if (current_.rows == 0) return;
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] {
            return queue_.size() < (opened_ ? batches_waiting : batches_waiting_opening) || failed_;
        });
        queue_.push_back(std::move(current_));
        // A batch the writer is done with is filled again, its memory kept.
        if (spare_.empty()) {
            current_ = Batch{};
        } else {
            current_ = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();
        ready_.notify_one();
    }

    void stop_writer() {
        if (!writer_.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        ready_.notify_one();
        writer_.join();
    }

    // The writer thread: batches in order until the sink closes.
    void write_batches() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            while (
                !ready_.wait_for(lock, batch_interval, [&] { return !queue_.empty() || closing_; }))
                batch_wanted_.store(true, std::memory_order_relaxed);
            if (queue_.empty()) return;
            Batch batch = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            room_.notify_one();
            std::string why;
            const bool stored = failed_ || insert(batch, why);
            batch.bytes.clear();
            batch.rows = 0;
            lock.lock();
            spare_.push_back(std::move(batch));
            if (!stored) {
                error_ = why;
                failed_ = true;
            }
            lock.unlock();
            if (!stored) room_.notify_one();
        }
    }

    bool insert(const Batch& batch, std::string& why) {
        std::size_t at = 0;
        std::size_t length_at = 0;
        for (std::size_t r = 0; r < batch.rows;) {
            const bool many = insert_many_ && batch.rows - r >= rows_per_many_;
            sqlite3_stmt* statement = many ? insert_many_ : insert_;
            const std::size_t rows = many ? rows_per_many_ : 1;
            Bound* bound = many ? bound_many_.data() : bound_one_.data();
            int place = 1;
            for (std::size_t row = 0; row < rows; ++row)
                for (std::size_t i = 0; i < fields_.size(); ++i, ++place, ++bound) {
                    const std::int32_t length = batch.lengths[length_at++];
                    if (length < 0) {
                        if (bound->state != Bound::null) sqlite3_bind_null(statement, place);
                        bound->state = Bound::null;
                        continue;
                    }
                    // The writer, not the record thread, notes the digests the run filled.
                    if (digest_of_[i] >= 0) filled_[static_cast<std::size_t>(digest_of_[i])] = true;
                    const char* text = batch.bytes.data() + at;
                    at += static_cast<std::size_t>(length);
                    if (bound->state == Bound::value &&
                        bound->text.size() == static_cast<std::size_t>(length) &&
                        std::memcmp(bound->text.data(), text, bound->text.size()) == 0)
                        continue;
                    bound->text.assign(text, static_cast<std::size_t>(length));
                    bound->state = Bound::value;
                    if (number_[i]) {
                        std::int64_t n = 0;
                        const auto [stop, problem] = std::from_chars(text, text + length, n);
                        if (problem == std::errc() && stop == text + length) {
                            sqlite3_bind_int64(statement, place, n);
                            continue;
                        }
                    }
                    sqlite3_bind_text(statement, place, bound->text.data(), length, SQLITE_STATIC);
                }
            const int stepped = sqlite3_step(statement);
            sqlite3_reset(statement);
            if (stepped != SQLITE_DONE) {
                why = sqlite3_errmsg(db_);
                return false;
            }
            r += rows;
            pending_ += rows;
        }
        if (pending_ >= rows_per_commit || now_ms_() - committed_ms_ >= commit_interval_ms) {
            pending_ = 0;
            if (!execute(db_, "COMMIT", why) || !execute(db_, "BEGIN", why)) return false;
            committed_ms_ = now_ms_();
        }
        return true;
    }

    sqlite3* db_;
    std::function<std::int64_t()> now_ms_;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* insert_many_ = nullptr;  // rows_per_many_ rows at once
    std::size_t rows_per_many_ = 1;
    // Each statement's parameters as bound, in order; never resized once
    // bound, as SQLite holds their text.
    std::vector<Bound> bound_one_;
    std::vector<Bound> bound_many_;
    std::int64_t run_id_ = 0;
    std::vector<Field> fields_;
    std::vector<bool> number_;
    std::vector<int> digest_of_;  // each field's digest, -1 for the others
    // The writer's while it runs, then finish's.
    std::array<bool, digest_count> filled_{};
    // The record thread's.
    Batch current_;
    // The writer's while it runs.
    std::uint64_t pending_ = 0;
    std::int64_t committed_ms_ = 0;
    // Shared.
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable room_;
    std::deque<Batch> queue_;
    std::vector<Batch> spare_;
    bool closing_ = false;
    bool opened_ = false;  // the writer has made the database ready, or failed to
    std::atomic<bool> failed_ = false;
    std::atomic<bool> batch_wanted_ = false;  // the writer has waited a batch_interval
    std::string error_;
    std::thread writer_;
};

// Up to its NUL, as the digest columns are read.
std::string_view c_text(const unsigned char* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

std::string text_of(sqlite3_stmt* s, int column) {
    const auto* text = sqlite3_column_text(s, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
                : std::string();
}

template <class T>
std::optional<T> number_of(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) != SQLITE_INTEGER) return std::nullopt;
    return static_cast<T>(sqlite3_column_int64(s, column));
}

}  // namespace

std::string file_database_unsupported() {
    return {};
}

std::unique_ptr<CatalogueSink> open_file_database(const std::string& file, const RunFacts& facts,
                                                  std::string& error) {
    sqlite3* db = nullptr;
    // One thread at a time uses the connection (the writer while it runs),
    // so SQLite's own locking of each call is left out.
    const int opened =
        sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto sink = std::make_unique<SqliteSink>(db, facts.now_ms);
    if (opened != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return nullptr;
    }
    sqlite3_busy_timeout(db, busy_timeout_ms);
    if (sqlite3_db_readonly(db, "main") == 1) {
        error = "attempt to write a readonly database";
        return nullptr;
    }
    // A file that is no database is named before the walk: reading its
    // header costs no sync of the disk.
    if (!execute(db, "PRAGMA schema_version", error)) return nullptr;
    sink->start(facts);
    return sink;
}

bool read_file_database(const std::string& file, const EarlierRun& which,
                        const std::function<void(EarlierEntry&&)>& take, std::string& error) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close(db); }
    } closer{db};
    const auto fail = [&] {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        return false;
    };
    if (opened != SQLITE_OK) return fail();
    sqlite3_busy_timeout(db, busy_timeout_ms);

    std::int64_t run_id = 0;
    {
        Statement find(db, which.run_id
                               ? "SELECT run_id FROM runs WHERE run_id = ?"
                               : "SELECT run_id FROM runs WHERE status = 'complete' AND host = ? "
                                 "AND start_paths = ? ORDER BY run_id DESC LIMIT 1");
        if (!find) return fail();
        if (which.run_id) {
            sqlite3_bind_int64(find.get(), 1, *which.run_id);
        } else {
            find.text(1, which.host);
            find.text(2, which.start_paths);
        }
        const int found = sqlite3_step(find.get());
        if (found == SQLITE_ROW) {
            run_id = sqlite3_column_int64(find.get(), 0);
        } else if (found == SQLITE_DONE) {
            error = which.run_id ? "it holds no run " + std::to_string(*which.run_id)
                                 : "it holds no complete run of this host over the same start "
                                   "paths";
            return false;
        } else {
            return fail();
        }
    }

    std::string sql =
        "SELECT kind, path, path_bytes, size, modified, attributes, owner, target, "
        "modified_ns, change_time_ns, device, inode, links";
    for (const DigestRow& digest : digest_rows)
        sql += std::string(", ") + quoted_name(digest.field);
    sql += " FROM entries WHERE run_id = ? ORDER BY rowid";
    Statement rows(db, sql);
    if (!rows) return fail();
    sqlite3_bind_int64(rows.get(), 1, run_id);
    sqlite3_stmt* s = rows.get();
    int stepped;
    while ((stepped = sqlite3_step(s)) == SQLITE_ROW) {
        EarlierEntry entry;
        entry.kind = text_of(s, 0);
        const std::string path_bytes = text_of(s, 2);
        if (path_bytes.empty()) {
            entry.path = text_of(s, 1);
        } else if (!decode_hex(path_bytes, entry.path)) {
            error = "a row's path_bytes is not hexadecimal";
            return false;
        }
        entry.size = number_of<std::int64_t>(s, 3);
        entry.modified = text_of(s, 4);
        entry.attributes = text_of(s, 5);
        entry.owner = text_of(s, 6);
        entry.target = text_of(s, 7);
        entry.modified_ns = number_of<std::int64_t>(s, 8);
        entry.change_time_ns = number_of<std::int64_t>(s, 9);
        entry.device = number_of<std::uint64_t>(s, 10);
        entry.inode = number_of<std::uint64_t>(s, 11);
        entry.links = number_of<std::uint64_t>(s, 12);
        int column = 13;
        for (const DigestRow& digest : digest_rows)
            entry.digests[digest_index(digest.id)] =
                stored_digest(c_text(sqlite3_column_text(s, column++)));
        take(std::move(entry));
    }
    if (stepped != SQLITE_DONE) return fail();
    return true;
}

}  // namespace filarix
