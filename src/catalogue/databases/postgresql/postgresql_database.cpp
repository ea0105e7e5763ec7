// The PostgreSQL backend: the run's row is added and committed as
// 'running', then every entry row goes in through one COPY in one
// transaction, which the run's end closes: a run that never ends leaves its
// row 'running' and no entries. libpq is loaded only by a run that asks for
// a server, so that no other run loads it and the libraries it needs.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

#include "catalogue/database_backend.hpp"
#include "core/columns.hpp"

namespace filarix {

namespace {

// The client library's file and the functions taken from it.
constexpr const char* client_library = "libpq.so.5";

struct Client {
    std::unique_ptr<platform::SharedLibrary> library;
    decltype(&::PQconnectdb) PQconnectdb = nullptr;
    decltype(&::PQstatus) PQstatus = nullptr;
    decltype(&::PQerrorMessage) PQerrorMessage = nullptr;
    decltype(&::PQfinish) PQfinish = nullptr;
    decltype(&::PQexec) PQexec = nullptr;
    decltype(&::PQexecParams) PQexecParams = nullptr;
    decltype(&::PQresultStatus) PQresultStatus = nullptr;
    decltype(&::PQclear) PQclear = nullptr;
    decltype(&::PQntuples) PQntuples = nullptr;
    decltype(&::PQgetvalue) PQgetvalue = nullptr;
    decltype(&::PQgetisnull) PQgetisnull = nullptr;
    decltype(&::PQputCopyData) PQputCopyData = nullptr;
    decltype(&::PQputCopyEnd) PQputCopyEnd = nullptr;
    decltype(&::PQgetResult) PQgetResult = nullptr;
    decltype(&::PQsetNoticeProcessor) PQsetNoticeProcessor = nullptr;

    // False when the library or one of its functions is missing.
    bool load(const RunFacts& facts) {
        if (facts.load_library) library = facts.load_library(client_library);
        if (!library) return false;
        bool all = true;
        const auto take = [&](auto& f, const char* name) {
            f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(library->function(name));
            all = all && f != nullptr;
        };
        take(PQconnectdb, "PQconnectdb");
        take(PQstatus, "PQstatus");
        take(PQerrorMessage, "PQerrorMessage");
        take(PQfinish, "PQfinish");
        take(PQexec, "PQexec");
        take(PQexecParams, "PQexecParams");
        take(PQresultStatus, "PQresultStatus");
        take(PQclear, "PQclear");
        take(PQntuples, "PQntuples");
        take(PQgetvalue, "PQgetvalue");
        take(PQgetisnull, "PQgetisnull");
        take(PQputCopyData, "PQputCopyData");
        take(PQputCopyEnd, "PQputCopyEnd");
        take(PQgetResult, "PQgetResult");
        take(PQsetNoticeProcessor, "PQsetNoticeProcessor");
        return all;
    }
};

// The copy's text is handed to libpq in blocks of this size.
constexpr std::size_t copy_block = 1 << 16;
constexpr int schema_version = 1;
// Runs that start at once bring the schema forward one after another under
// this advisory lock ("FILARIX" in ASCII): CREATE ... IF NOT EXISTS alone
// is no guard against another session doing the same.
constexpr const char* schema_lock = "SELECT pg_advisory_xact_lock(19783840231999832)";

// libpq's message on one line: its hints and details follow on lines of
// their own, some indented, and the run's message is one line.
std::string one_line(const std::string& message) {
    std::string out;
    for (std::size_t at = 0; at < message.size();) {
        const char c = message[at++];
        if (c != '\n' && c != '\t' && c != ' ') {
            out += c;
            continue;
        }
        bool broken = c == '\n';
        for (; at < message.size() &&
               (message[at] == '\n' || message[at] == '\t' || message[at] == ' ');
             ++at)
            if (message[at] == '\n') broken = true;
        if (out.empty() || at == message.size()) continue;
        // A sentence wrapped onto the next line goes on after a space.
        const auto lower = [](char ch) { return ch >= 'a' && ch <= 'z'; };
        out += broken && !(lower(out.back()) && lower(message[at])) ? "; " : " ";
    }
    return out;
}

// A server's notices are not the run's messages: they are left unsaid.
void ignore_notice(void*, const char*) {}

const char* column_type(Field f) {
    return field_type(f) == FieldType::number ? "BIGINT" : "TEXT";
}

// A statement's result, cleared when it goes.
class Result {
public:
    Result(const Client& pq, PGresult* r) : pq_(pq), r_(r) {}
    ~Result() { pq_.PQclear(r_); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    PGresult* get() const { return r_; }
    bool ok() const {
        const ExecStatusType s = pq_.PQresultStatus(r_);
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_COPY_IN;
    }

private:
    const Client& pq_;
    PGresult* r_;
};

// COPY's text form of a value: backslash, tab, line feed and CR escaped.
void append_copy_text(std::string& out, const std::string& text) {
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

class PostgresSink final : public CatalogueSink {
public:
    PostgresSink(Client pq, PGconn* db) : pq_(std::move(pq)), db_(db) {}
    ~PostgresSink() override {
        if (db_) pq_.PQfinish(db_);
    }

    bool start(const RunFacts& facts) {
        fields_ = facts.row_fields;
        if (!execute("SET client_min_messages = warning") || !create_tables()) return false;
        const char* values[] = {facts.host.c_str(),        facts.user.c_str(),
                                facts.start_paths.c_str(), facts.command_line.c_str(),
                                facts.digests.c_str(),     facts.listing_format.c_str(),
                                facts.fields.c_str(),      facts.started.c_str()};
        Result run(pq_, pq_.PQexecParams(
                            db_,
                            "INSERT INTO runs(host, user_name, start_paths, command_line, "
                            "digests, listing_format, fields, started, status) VALUES($1, $2, "
                            "$3, $4, $5, $6, $7, $8, 'running') RETURNING run_id",
                            8, nullptr, values, nullptr, nullptr, 0));
        if (!run.ok() || pq_.PQntuples(run.get()) != 1) return fail();
        run_id_ = pq_.PQgetvalue(run.get(), 0, 0);

        std::string copy = "COPY entries(run_id";
        for (const Field f : fields_) copy += ", " + quoted_name(field_name(f));
        copy += ") FROM STDIN";
        if (!execute("BEGIN")) return false;
        Result started(pq_, pq_.PQexec(db_, copy.c_str()));
        if (pq_.PQresultStatus(started.get()) != PGRES_COPY_IN) return fail();
        return true;
    }

    bool add_row(const RowValues& row) override {
        buffer_ += run_id_;
        for (const Field f : fields_) {
            buffer_ += '\t';
            const std::string* value = row[static_cast<std::size_t>(f)];
            if (value)
                append_copy_text(buffer_, *value);
            else
                buffer_ += "\\N";
        }
        buffer_ += '\n';
        return buffer_.size() < copy_block || send();
    }

    bool finish(const RunSummary& summary) override {
        if (!send()) return false;
        if (pq_.PQputCopyEnd(db_, nullptr) != 1) return fail();
        Result copied(pq_, pq_.PQgetResult(db_));
        if (!copied.ok()) return fail();
        while (PGresult* more = pq_.PQgetResult(db_)) pq_.PQclear(more);
        const std::string files = std::to_string(summary.files);
        const std::string directories = std::to_string(summary.directories);
        const std::string bytes = std::to_string(summary.bytes);
        const char* values[] = {run_status_text(summary.outcome),
                                summary.finished.c_str(),
                                files.c_str(),
                                directories.c_str(),
                                bytes.c_str(),
                                run_id_.c_str()};
        Result end(pq_, pq_.PQexecParams(db_,
                                         "UPDATE runs SET status = $1, finished = $2, files = $3, "
                                         "directories = $4, bytes = $5 WHERE run_id = $6",
                                         6, nullptr, values, nullptr, nullptr, 0));
        if (!end.ok()) return fail();
        return execute("COMMIT");
    }

    std::string error() const override { return error_; }
    ConnStatusType status() const { return pq_.PQstatus(db_); }
    std::string message() const { return pq_.PQerrorMessage(db_); }

private:
    bool fail() {
        error_ = one_line(pq_.PQerrorMessage(db_));
        return false;
    }
    bool execute(const std::string& sql) {
        Result r(pq_, pq_.PQexec(db_, sql.c_str()));
        return r.ok() || fail();
    }
    bool send() {
        if (buffer_.empty()) return true;
        if (pq_.PQputCopyData(db_, buffer_.data(), static_cast<int>(buffer_.size())) != 1)
            return fail();
        buffer_.clear();
        return true;
    }

    // The names a catalogue query answers with, one a row.
    bool names(const char* sql, std::set<std::string>& out) {
        Result r(pq_, pq_.PQexec(db_, sql));
        if (!r.ok()) return fail();
        for (int i = 0; i < pq_.PQntuples(r.get()); ++i) out.insert(pq_.PQgetvalue(r.get(), i, 0));
        return true;
    }

    // One transaction brings the schema forward; a version table holds
    // where it stands, as SQLite's user_version does. Only what is missing
    // is added: ALTER TABLE and CREATE INDEX wait for every run whose rows
    // are still going in.
    bool create_tables() {
        if (!execute("BEGIN") || !execute(schema_lock) ||
            !execute("CREATE TABLE IF NOT EXISTS filarix_schema(version INTEGER NOT NULL)"))
            return false;
        Result version(pq_, pq_.PQexec(db_, "SELECT max(version) FROM filarix_schema"));
        if (!version.ok()) return fail();
        const int at = pq_.PQgetisnull(version.get(), 0, 0)
                           ? 0
                           : std::atoi(pq_.PQgetvalue(version.get(), 0, 0));
        if (at > schema_version) {
            error_ = "its schema version " + std::to_string(at) +
                     " is newer than this program knows (" + std::to_string(schema_version) + ")";
            execute("ROLLBACK");
            return false;
        }
        if (at < 1 &&
            (!execute("CREATE TABLE runs(run_id BIGSERIAL PRIMARY KEY, host TEXT, user_name TEXT, "
                      "start_paths TEXT, command_line TEXT, digests TEXT, listing_format TEXT, "
                      "fields TEXT, started TEXT, finished TEXT, status TEXT NOT NULL, files "
                      "BIGINT, directories BIGINT, bytes BIGINT)") ||
             !execute("CREATE TABLE entries(run_id BIGINT NOT NULL REFERENCES runs(run_id))") ||
             !execute("INSERT INTO filarix_schema(version) VALUES(1)")))
            return false;
        // Fields added to the row after the tables were made get their columns.
        std::set<std::string> columns;
        if (!names("SELECT attname FROM pg_attribute WHERE attrelid = 'entries'::regclass AND "
                   "attnum > 0 AND NOT attisdropped",
                   columns))
            return false;
        for (std::size_t i = 0; i < field_count; ++i) {
            const Field f = static_cast<Field>(i);
            if (!columns.count(field_name(f)) &&
                !execute("ALTER TABLE entries ADD COLUMN " + quoted_name(field_name(f)) + " " +
                         column_type(f)))
                return false;
        }
        // The indexes are made with the table, and a digest's the first
        // time a run asks for it, so that a run's end takes no lock that
        // waits for the other runs.
        std::set<std::string> indexes;
        if (!names("SELECT c.relname FROM pg_index AS i JOIN pg_class AS c ON c.oid = "
                   "i.indexrelid WHERE i.indrelid = 'entries'::regclass",
                   indexes))
            return false;
        std::vector<std::pair<std::string, std::string>> wanted = {
            {"entries_run_path", "run_id, path"}};
        for (const DigestRow& digest : digest_rows)
            if (std::find(fields_.begin(), fields_.end(), digest_field(digest.id)) != fields_.end())
                wanted.emplace_back(std::string("entries_") + digest.field,
                                    quoted_name(digest.field));
        for (const auto& [name, columns_of] : wanted)
            if (!indexes.count(name) && !execute("CREATE INDEX " + quoted_name(name.c_str()) +
                                                 " ON entries(" + columns_of + ")"))
                return false;
        return execute("COMMIT");
    }

    Client pq_;
    PGconn* db_;
    std::string run_id_;
    std::vector<Field> fields_;
    std::string buffer_;
    std::string error_;
};

}  // namespace

std::string server_database_unsupported() {
    return {};
}

std::unique_ptr<CatalogueSink> open_server_database(const std::string& connection,
                                                    const RunFacts& facts, std::string& error) {
    Client pq;
    if (!pq.load(facts)) {
        error = std::string("PostgreSQL's client library ") + client_library +
                " cannot be loaded (Debian package libpq5)";
        return nullptr;
    }
    PGconn* db = pq.PQconnectdb(connection.c_str());
    if (db) pq.PQsetNoticeProcessor(db, ignore_notice, nullptr);
    auto sink = std::make_unique<PostgresSink>(std::move(pq), db);
    if (!db || sink->status() != CONNECTION_OK) {
        error = db ? one_line(sink->message()) : "out of memory";
        return nullptr;
    }
    if (!sink->start(facts)) {
        error = sink->error();
        return nullptr;
    }
    return sink;
}

}  // namespace filarix
