#include "store/ado_database.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace fd {
namespace {

constexpr std::size_t kMaxCachedStatements = 128;

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Reads one word (letters, digits, underscore); empty at punctuation.
std::string_view NextWord(std::string_view& text) {
    text = TrimLeft(text);
    std::size_t n = 0;
    while (n < text.size() && IsIdentChar(text[n])) ++n;
    std::string_view word = text.substr(0, n);
    text.remove_prefix(n);
    return word;
}

bool WordIs(std::string_view word, std::string_view keyword) {
    return word.size() == keyword.size() && ToLower(word) == keyword;
}

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t comma; (comma = text.find(',')) != std::string_view::npos;) {
        parts.push_back(Trim(text.substr(0, comma)));
        text.remove_prefix(comma + 1);
    }
    parts.push_back(Trim(text));
    return parts;
}

std::string QuoteName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// The Jet types of the schema statements this program writes, and their SQLite forms.
constexpr std::pair<std::string_view, std::string_view> kJetTypes[] = {
    {"Counter", "INTEGER PRIMARY KEY AUTOINCREMENT"},
    {"long", "INTEGER"},
    {"double", "REAL"},
    {"char", "TEXT COLLATE NOCASE"},  // char(n): Jet compares text without regard to case
};

// "mac char(18)" -> "mac TEXT COLLATE NOCASE"; other types pass through.
std::string TranslateColumn(std::string_view def) {
    const std::size_t blank = def.find(' ');
    if (blank == std::string_view::npos) return std::string(def);
    const std::string_view name = def.substr(0, blank);
    std::string_view type = Trim(def.substr(blank + 1));
    type = type.substr(0, type.find('('));
    for (const auto& [jet, sqlite] : kJetTypes) {
        if (type == jet) return std::string(name) + " " + std::string(sqlite);
    }
    return std::string(def);
}

std::string FirstWordLower(std::string_view sql) {
    std::string_view rest = sql;
    return ToLower(NextWord(rest));
}

// Statements whose compiled form is worth keeping: data statements, not DDL.
bool IsCacheable(std::string_view sql) {
    std::string word = FirstWordLower(sql);
    return word == "select" || word == "insert" || word == "update" || word == "delete" ||
           word == "with" || word == "replace";
}

int BindValue(sqlite3_stmt* stmt, int pos, const SqlValue& v) {
    if (std::holds_alternative<int64_t>(v)) return sqlite3_bind_int64(stmt, pos, std::get<int64_t>(v));
    if (std::holds_alternative<double>(v)) return sqlite3_bind_double(stmt, pos, std::get<double>(v));
    if (std::holds_alternative<std::string>(v)) {
        const std::string& s = std::get<std::string>(v);
        // The values outlive every step; the bindings are cleared after use.
        return sqlite3_bind_text(stmt, pos, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
    }
    return sqlite3_bind_null(stmt, pos);
}

int BindParams(sqlite3_stmt* stmt, const SqlParams& params) {
    if (static_cast<int>(params.size()) > sqlite3_bind_parameter_count(stmt)) return SQLITE_RANGE;
    for (std::size_t i = 0; i < params.size(); ++i) {
        int rc = BindValue(stmt, static_cast<int>(i) + 1, params[i]);
        if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
}

// Leaves a cached statement ready for its next use, whatever happened to this one.
struct StatementGuard {
    sqlite3_stmt* stmt;
    ~StatementGuard() {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

SqlValue ReadCell(sqlite3_stmt* stmt, int col) {
    switch (sqlite3_column_type(stmt, col)) {
        case SQLITE_INTEGER:
            return static_cast<int64_t>(sqlite3_column_int64(stmt, col));
        case SQLITE_FLOAT:
            return sqlite3_column_double(stmt, col);
        case SQLITE_NULL:
            return std::monostate{};
        default: {
            const auto* text = sqlite3_column_text(stmt, col);
            int bytes = sqlite3_column_bytes(stmt, col);
            return text ? std::string(reinterpret_cast<const char*>(text), bytes) : std::string();
        }
    }
}

std::string FormatError(const char* title, int rc, const std::string& description) {
    char head[96];
    std::snprintf(head, sizeof head, "%s\n\tCode = %08lx\n\tCode meaning = ", title,
                  static_cast<unsigned long>(static_cast<uint32_t>(rc)));
    return std::string(head) + sqlite3_errstr(rc) +
           "\n\tSource = SQLite\n\tDescription = " + description + "\n";
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The table a "select ... from NAME ..." reads; empty for anything else.
std::string TableOf(std::string_view query) {
    std::string_view rest = query;
    if (!WordIs(NextWord(rest), "select")) return {};
    while (!rest.empty()) {
        std::string_view word = NextWord(rest);
        if (word.empty()) {
            rest.remove_prefix(1);  // punctuation such as '*' or ','
            continue;
        }
        if (WordIs(word, "from")) {
            return std::string(NextWord(rest));
        }
    }
    return {};
}

}  // namespace

std::vector<std::string> TranslateJetStatement(std::string_view sql) {
    constexpr std::string_view kCreate = "CREATE TABLE ", kAlter = "ALTER TABLE ", kAdd = " ADD ";
    if (sql.starts_with(kCreate)) {
        const std::size_t open = sql.find('(');
        const std::size_t close = sql.rfind(')');
        if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
            return {std::string(sql)};
        }
        std::string out(sql.substr(0, open + 1));
        bool first = true;
        for (std::string_view def : SplitAtCommas(sql.substr(open + 1, close - open - 1))) {
            if (!first) out += ",";
            out += TranslateColumn(def);
            first = false;
        }
        return {out + std::string(sql.substr(close))};
    }
    const std::size_t add = sql.find(kAdd);
    if (sql.starts_with(kAlter) && add != std::string_view::npos) {
        // SQLite adds one column per statement.
        const std::string head = std::string(sql.substr(0, add)) + " ADD COLUMN ";
        std::vector<std::string> out;
        for (std::string_view def : SplitAtCommas(sql.substr(add + kAdd.size()))) {
            if (!def.empty()) out.push_back(head + TranslateColumn(def));
        }
        if (!out.empty()) return out;
    }
    return {std::string(sql)};
}

std::string DataSourceOf(std::string_view connectionString) {
    std::string_view rest = connectionString;
    while (!rest.empty()) {
        std::size_t semi = rest.find(';');
        std::string_view part = rest.substr(0, semi);
        rest = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
        std::size_t eq = part.find('=');
        if (eq == std::string_view::npos) continue;
        if (ToLower(Trim(part.substr(0, eq))) == "data source") {
            return std::string(Trim(part.substr(eq + 1)));
        }
    }
    return {};
}

namespace detail {
CachedStatement::~CachedStatement() {
    sqlite3_finalize(stmt);
}
}  // namespace detail

}  // namespace fd

using fd::SqlParams;
using fd::SqlValue;

// ---------------------------------------------------------------------------------------
// CADODatabase

CADODatabase::CADODatabase() = default;

CADODatabase::~CADODatabase() {
    Close();
}

void CADODatabase::SetError(int rc, const std::string& description) {
    m_lastErrorCode = static_cast<uint32_t>(rc);
    m_errorDescription = description;
    m_lastError = "Connection String = " + m_connectionString + "\n" +
                  fd::FormatError("CADODataBase Error", rc, description);
}

bool CADODatabase::Create(const std::string& connectionString) {
    std::string saved = std::exchange(m_connectionString, connectionString);
    std::string path = fd::DataSourceOf(connectionString);
    bool ok = false;
    if (path.empty()) {
        SetError(SQLITE_CANTOPEN, "The connection string names no data source.");
    } else if (fd::FileExists(path)) {
        SetError(SQLITE_CANTOPEN, "Database already exists.");
    } else {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                                 nullptr);
        // Writing the schema cookie makes the file a real (if empty) database at once.
        if (rc == SQLITE_OK) {
            rc = sqlite3_exec(db, "PRAGMA synchronous=OFF;PRAGMA user_version=0", nullptr, nullptr,
                              nullptr);
        }
        if (rc == SQLITE_OK && !fd::FileExists(path)) rc = SQLITE_CANTOPEN;
        if (rc != SQLITE_OK) {
            SetError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        } else {
            ok = true;
        }
        sqlite3_close_v2(db);
    }
    // Create does not touch the connection: it keeps the text it was opened with.
    if (IsOpen()) m_connectionString = std::move(saved);
    return ok;
}

namespace {

char FoldAscii(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// contains_text(needle, text...): 1 when any text holds needle, ASCII letters compared
// without case and every other byte as it is (what like('%needle%') matches, without its
// wildcards); needle is given in lower case. The device lists' filter runs it over every row
// and a dozen columns, where a like() per column costs several times as much.
void ContainsText(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const auto* needle = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int n = sqlite3_value_bytes(argv[0]);
    if (!needle) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    for (int i = 1; i < argc; ++i) {
        const auto* text = sqlite3_value_text(argv[i]);
        const int length = sqlite3_value_bytes(argv[i]);
        if (!text || length < n) continue;
        for (int at = 0; at + n <= length; ++at) {
            int k = 0;
            while (k < n && FoldAscii(text[at + k]) == needle[k]) ++k;
            if (k == n) {
                sqlite3_result_int(ctx, 1);
                return;
            }
        }
    }
    sqlite3_result_int(ctx, 0);
}

}  // namespace

bool CADODatabase::Open(const std::string& connectionString) {
    if (IsOpen()) Close();
    m_connectionString = connectionString;
    std::string path = fd::DataSourceOf(connectionString);
    if (path.empty()) {
        SetError(SQLITE_CANTOPEN, "The connection string names no data source.");
        return false;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc == SQLITE_OK && m_connectionTimeout > 0) {
        sqlite3_busy_timeout(db, static_cast<int>(m_connectionTimeout * 1000));
    }
    // A scratch file deleted at exit needs no durability: keep the journal in memory,
    // never wait for the disk. The one connection holds the file for itself, so its page
    // cache stays valid between statements and no statement pays for file locks.
    // Reading the schema proves the file is a database.
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "contains_text", -1,
                                        SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                        nullptr, ContainsText, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db,
                          "PRAGMA journal_mode=MEMORY;PRAGMA synchronous=OFF;"
                          "PRAGMA temp_store=MEMORY;PRAGMA locking_mode=EXCLUSIVE;"
                          "PRAGMA cache_size=-8192;SELECT count(*) FROM sqlite_master;",
                          nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        SetError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return false;
    }
    m_db = db;
    return true;
}

std::string& CADODatabase::WriteStatementText(const std::string& key) {
    // Bounded like the statement cache: a caller writing ever new column sets must not
    // grow it without end.
    if (m_writeText.size() >= fd::kMaxCachedStatements && !m_writeText.count(key))
        m_writeText.clear();
    return m_writeText[key];
}

void CADODatabase::ClearCache() {
    m_cache.clear();
    m_writeText.clear();
}

void CADODatabase::Close() {
    if (!m_db) return;
    ClearCache();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

fd::detail::CachedStatement* CADODatabase::Prepare(const std::string& sql, int& rc,
                                                   std::string& message) {
    rc = SQLITE_OK;
    if (!m_db) {
        rc = SQLITE_MISUSE;
        message = "The connection is closed.";
        return nullptr;
    }
    if (auto it = m_cache.find(sql); it != m_cache.end()) {
        sqlite3_reset(it->second->stmt);
        sqlite3_clear_bindings(it->second->stmt);
        return it->second.get();
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    rc = sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()) + 1,
                            SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) {
        message = sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    if (!stmt) {
        rc = SQLITE_MISUSE;
        message = "The statement is empty.";
        return nullptr;
    }
    // One statement per call: anything after the first is refused, not silently dropped.
    if (tail && !fd::Trim(std::string_view(tail)).empty() &&
        fd::Trim(std::string_view(tail)) != ";") {
        sqlite3_finalize(stmt);
        rc = SQLITE_MISUSE;
        message = "Only one statement can be run at a time.";
        return nullptr;
    }
    auto cached = std::make_unique<fd::detail::CachedStatement>();
    cached->stmt = stmt;
    auto columns = std::make_shared<std::vector<std::string>>();
    auto index = std::make_shared<fd::detail::ColumnIndexMap>();
    int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(stmt, i);
        columns->push_back(name ? name : "");
        index->emplace(fd::ToLower(columns->back()), i);  // the first of equal names wins
    }
    cached->columns = std::move(columns);
    cached->index = std::move(index);
    // DDL is compiled afresh each time: it changes the schema the cache was built on.
    std::string key = fd::IsCacheable(sql) ? sql : std::string();
    if (m_cache.size() >= fd::kMaxCachedStatements) ClearCache();
    auto& slot = m_cache[key];
    slot = std::move(cached);
    return slot.get();
}

bool CADODatabase::ExecuteOne(const std::string& sql, const SqlParams& params, long& changes) {
    int rc = SQLITE_OK;
    std::string message;
    fd::detail::CachedStatement* cached = Prepare(sql, rc, message);
    if (!cached) {
        SetError(rc, message);
        return false;
    }
    fd::StatementGuard guard{cached->stmt};
    rc = fd::BindParams(cached->stmt, params);
    if (rc != SQLITE_OK) {
        SetError(rc, "The parameters do not fit the statement.");
        return false;
    }
    while ((rc = sqlite3_step(cached->stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        SetError(rc, sqlite3_errmsg(m_db));
        return false;
    }
    changes += sqlite3_changes(m_db);
    return true;
}

bool CADODatabase::Execute(const std::string& sql, const SqlParams& params) {
    if (!m_db) {
        SetError(SQLITE_MISUSE, "The connection is closed.");
        return false;
    }
    long changes = 0;
    std::vector<std::string> statements = fd::TranslateJetStatement(sql);
    bool ok = true;
    if (statements.size() == 1) {
        ok = ExecuteOne(statements.front(), params, changes);
    } else {
        // Several columns added in one statement: all of them or none.
        sqlite3_exec(m_db, "SAVEPOINT jet_alter", nullptr, nullptr, nullptr);
        for (const std::string& one : statements) {
            if (!(ok = ExecuteOne(one, {}, changes))) break;
        }
        if (!ok) sqlite3_exec(m_db, "ROLLBACK TO jet_alter", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db, "RELEASE jet_alter", nullptr, nullptr, nullptr);
    }
    m_recordsAffected = ok ? changes : 0;
    return ok;
}

// ---------------------------------------------------------------------------------------
// CADORecordset

CADORecordset::CADORecordset(CADODatabase* db) : m_db(db) {}

CADORecordset::~CADORecordset() {
    Close();
}

void CADORecordset::SetError(int rc, const std::string& description) {
    m_lastErrorCode = static_cast<uint32_t>(rc);
    m_lastError =
        "Query = " + m_query + "\n" + fd::FormatError("CADORecordset Error", rc, description);
}

bool CADORecordset::Open(const std::string& query, const SqlParams& params) {
    Close();
    m_recentPos = 0;
    m_query = std::string(fd::TrimLeft(query));
    if (!m_db || !m_db->IsOpen()) {
        SetError(SQLITE_MISUSE, "The connection is closed.");
        return false;
    }
    int rc = SQLITE_OK;
    std::string message;
    fd::detail::CachedStatement* cached = m_db->Prepare(m_query, rc, message);
    if (!cached) {
        SetError(rc, message);
        return false;
    }
    fd::StatementGuard guard{cached->stmt};
    rc = fd::BindParams(cached->stmt, params);
    if (rc != SQLITE_OK) {
        SetError(rc, "The parameters do not fit the statement.");
        return false;
    }
    int count = sqlite3_column_count(cached->stmt);
    while ((rc = sqlite3_step(cached->stmt)) == SQLITE_ROW) {
        std::vector<SqlValue> row;
        row.reserve(count);
        for (int i = 0; i < count; ++i) row.push_back(fd::ReadCell(cached->stmt, i));
        m_rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        SetError(rc, sqlite3_errmsg(m_db->Handle()));
        m_rows.clear();
        return false;
    }
    m_columns = cached->columns;
    m_index = cached->index;
    m_table = fd::TableOf(m_query);
    m_cursor = 0;
    m_open = true;
    return true;
}

void CADORecordset::MoveNext() {
    if (m_open && m_cursor < m_rows.size()) ++m_cursor;
}

void CADORecordset::Close() {
    m_open = false;
    m_rows.clear();
    m_columns.reset();
    m_index.reset();
    m_table.clear();
    m_cursor = 0;
    m_editMode = dbEditNone;
    ClearPending();
}

int CADORecordset::ColumnIndex(std::string_view column) const {
    if (!m_index) return -1;
    // A caller that writes a record names the same columns in the same order every time:
    // the name expected next is compared before any hashing.
    if (m_recentFor != m_index) {
        m_recent.clear();
        m_recentFor = m_index;
        m_recentPos = 0;
    }
    if (m_recentPos < m_recent.size() && m_recent[m_recentPos].first == column)
        return m_recent[m_recentPos++].second;
    const int found = LookUpColumn(column);
    if (m_recentPos < m_recent.size()) {
        m_recent[m_recentPos] = {std::string(column), found};
    } else if (m_recent.size() < 256) {
        m_recent.emplace_back(std::string(column), found);
    }
    ++m_recentPos;
    return found;
}

int CADORecordset::LookUpColumn(std::string_view column) const {
    char lower[64];
    if (column.size() > sizeof lower) return -1;  // no column has so long a name
    // ASCII only, as the names are: this runs for every field of every row written.
    for (std::size_t i = 0; i < column.size(); ++i) {
        const char c = column[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    auto it = m_index->find(std::string_view(lower, column.size()));
    return it == m_index->end() ? -1 : it->second;
}

int CADORecordset::OpenColumnIndex(std::string_view column) {
    if (!m_open) {
        SetError(SQLITE_MISUSE, "Operation is not allowed when the object is closed.");
        return -1;
    }
    const int index = ColumnIndex(column);
    if (index < 0)
        SetError(SQLITE_ERROR,
                 "Item cannot be found in the collection corresponding to the "
                 "requested name: " +
                     std::string(column) + ".");
    return index;
}

const SqlValue* CADORecordset::Cell(std::string_view column) {
    const int index = OpenColumnIndex(column);
    if (index < 0) return nullptr;
    if (IsEof()) {
        SetError(SQLITE_NOTFOUND,
                 "Either BOF or EOF is True, or the current record has been "
                 "deleted.");
        return nullptr;
    }
    return &m_rows[m_cursor][static_cast<std::size_t>(index)];
}

bool CADORecordset::GetFieldValue(std::string_view column, int64_t& value) {
    const SqlValue* cell = Cell(column);
    if (!cell) return false;
    if (auto* i = std::get_if<int64_t>(cell)) {
        value = *i;
    } else if (auto* d = std::get_if<double>(cell)) {
        value = static_cast<int64_t>(*d);
    } else if (auto* s = std::get_if<std::string>(cell)) {
        value = std::strtoll(s->c_str(), nullptr, 10);
    } else {
        value = 0;
    }
    return true;
}

bool CADORecordset::GetFieldValue(std::string_view column, int32_t& value) {
    int64_t wide = 0;
    if (!GetFieldValue(column, wide)) return false;
    value = static_cast<int32_t>(wide);
    return true;
}

bool CADORecordset::GetFieldValue(std::string_view column, double& value) {
    const SqlValue* cell = Cell(column);
    if (!cell) return false;
    if (auto* i = std::get_if<int64_t>(cell)) {
        value = static_cast<double>(*i);
    } else if (auto* d = std::get_if<double>(cell)) {
        value = *d;
    } else if (auto* s = std::get_if<std::string>(cell)) {
        value = std::strtod(s->c_str(), nullptr);
    } else {
        value = 0;
    }
    return true;
}

bool CADORecordset::GetFieldValue(std::string_view column, std::string& value) {
    const SqlValue* cell = Cell(column);
    if (!cell) return false;
    if (auto* i = std::get_if<int64_t>(cell)) {
        value = std::to_string(*i);
    } else if (auto* d = std::get_if<double>(cell)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        value = buf;
    } else if (auto* s = std::get_if<std::string>(cell)) {
        value = *s;
    } else {
        value.clear();
    }
    return true;
}

bool CADORecordset::SetValue(std::string_view column, SqlValue value) {
    const int index = OpenColumnIndex(column);
    if (index < 0) return false;
    if (m_editMode == dbEditNone) {
        if (IsEof()) {
            SetError(SQLITE_NOTFOUND,
                     "Either BOF or EOF is True, or the current record has "
                     "been deleted.");
            return false;
        }
        m_editMode = dbEditInProgress;  // writing a field starts editing the current row
    }
    // Where each column already stands among the pending values (position + 1, 0: not
    // yet), so a write of seventy fields does not search the list seventy times.
    const auto slot = static_cast<std::size_t>(index);
    if (m_pendingSlot.size() <= slot) m_pendingSlot.resize(slot + 1, 0);
    if (m_pendingSlot[slot] != 0) {
        m_pending[m_pendingSlot[slot] - 1].second = std::move(value);
        return true;
    }
    m_pending.emplace_back(index, std::move(value));
    m_pendingSlot[slot] = m_pending.size();
    return true;
}

bool CADORecordset::SetFieldValue(std::string_view column, std::string_view value) {
    return SetValue(column, std::string(value));
}
bool CADORecordset::SetFieldValue(std::string_view column, int32_t value) {
    return SetValue(column, static_cast<int64_t>(value));
}
bool CADORecordset::SetFieldValue(std::string_view column, uint32_t value) {
    return SetValue(column, static_cast<int64_t>(value));
}
bool CADORecordset::SetFieldValue(std::string_view column, double value) {
    return SetValue(column, value);
}

void CADORecordset::ClearPending() {
    for (const auto& [index, value] : m_pending) m_pendingSlot[static_cast<std::size_t>(index)] = 0;
    m_pending.clear();
}

bool CADORecordset::AddNew() {
    if (!m_open) {
        SetError(SQLITE_MISUSE, "Operation is not allowed when the object is closed.");
        return false;
    }
    if (m_table.empty()) {
        SetError(SQLITE_MISUSE, "The rows of this query cannot be updated.");
        return false;
    }
    ClearPending();
    m_editMode = dbEditNew;
    return true;
}

void CADORecordset::CancelUpdate() {
    ClearPending();
    m_editMode = dbEditNone;
}

bool CADORecordset::Update() {
    if (m_editMode == dbEditNone) return true;
    const bool adding = m_editMode == dbEditNew;
    auto fail = [this](int rc, const std::string& why) {
        SetError(rc, why);
        CancelUpdate();
        return false;
    };
    if (!m_open || !m_db || !m_db->IsOpen())
        return fail(SQLITE_MISUSE, "The connection is closed.");
    if (m_table.empty()) return fail(SQLITE_MISUSE, "The rows of this query cannot be updated.");

    const std::vector<std::string>& names = *m_columns;
    int64_t rowId = 0;
    if (!adding) {
        int idIndex = ColumnIndex("id");
        if (IsEof()) {
            return fail(SQLITE_NOTFOUND,
                        "Either BOF or EOF is True, or the current record has been deleted.");
        }
        const SqlValue& id = m_rows[m_cursor][static_cast<std::size_t>(idIndex < 0 ? 0 : idIndex)];
        if (idIndex < 0 || !std::holds_alternative<int64_t>(id)) {
            return fail(SQLITE_MISUSE, "The row has no ID key and cannot be updated.");
        }
        rowId = std::get<int64_t>(id);
        if (m_pending.empty()) {
            m_editMode = dbEditNone;
            return true;
        }
    }

    // The statement depends only on the query the columns came from and the columns
    // written, in order; a device record writes the same seventy columns every time, so
    // its text is made once.
    std::string key(1, adding ? 'I' : 'U');
    key += m_query;
    key += '\0';
    for (const auto& [index, value] : m_pending) {
        key += static_cast<char>(index & 0xff);
        key += static_cast<char>((index >> 8) & 0xff);
    }
    std::string& sql = m_db->WriteStatementText(key);
    if (sql.empty()) {
        if (adding && m_pending.empty()) {
            sql = "INSERT INTO " + fd::QuoteName(m_table) + " DEFAULT VALUES";
        } else if (adding) {
            std::string values;
            sql = "INSERT INTO " + fd::QuoteName(m_table) + " (";
            for (std::size_t i = 0; i < m_pending.size(); ++i) {
                if (i) {
                    sql += ",";
                    values += ",";
                }
                sql += fd::QuoteName(names[static_cast<std::size_t>(m_pending[i].first)]);
                values += "?";
            }
            sql += ") VALUES (" + values + ")";
        } else {
            sql = "UPDATE " + fd::QuoteName(m_table) + " SET ";
            for (std::size_t i = 0; i < m_pending.size(); ++i) {
                if (i) sql += ",";
                sql += fd::QuoteName(names[static_cast<std::size_t>(m_pending[i].first)]) + "=?";
            }
            sql += " WHERE rowid=?";
        }
    }

    int rc = SQLITE_OK;
    std::string message;
    fd::detail::CachedStatement* cached = m_db->Prepare(sql, rc, message);
    if (!cached) return fail(rc, message);
    {
        fd::StatementGuard guard{cached->stmt};
        const int wanted = static_cast<int>(m_pending.size()) + (adding ? 0 : 1);
        rc = wanted > sqlite3_bind_parameter_count(cached->stmt) ? SQLITE_RANGE : SQLITE_OK;
        for (std::size_t i = 0; rc == SQLITE_OK && i < m_pending.size(); ++i)
            rc = fd::BindValue(cached->stmt, static_cast<int>(i) + 1, m_pending[i].second);
        if (rc == SQLITE_OK && !adding)
            rc = sqlite3_bind_int64(cached->stmt, static_cast<int>(m_pending.size()) + 1, rowId);
        if (rc == SQLITE_OK) rc = sqlite3_step(cached->stmt);
        if (rc != SQLITE_DONE) return fail(rc, sqlite3_errmsg(m_db->Handle()));
    }

    // Keep the static copy in step with what was written.
    if (adding) {
        std::vector<SqlValue> row(names.size());
        int idIndex = ColumnIndex("id");
        if (idIndex >= 0) {
            row[static_cast<std::size_t>(idIndex)] =
                static_cast<int64_t>(sqlite3_last_insert_rowid(m_db->Handle()));
        }
        for (auto& [index, value] : m_pending) row[static_cast<std::size_t>(index)] = std::move(value);
        m_rows.push_back(std::move(row));
        m_cursor = m_rows.size() - 1;
    } else {
        for (auto& [index, value] : m_pending) {
            m_rows[m_cursor][static_cast<std::size_t>(index)] = std::move(value);
        }
    }
    ClearPending();
    m_editMode = dbEditNone;
    return true;
}
