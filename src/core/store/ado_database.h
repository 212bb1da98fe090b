#pragma once
// A thin connection/recordset pair over SQLite. Every failure becomes a false (or 0)
// result plus a remembered error text, so the device store reads as a straight sequence
// of calls that each answer true or false. The classes take no locks: their one user,
// the device store, serialises every use of a connection and its recordsets.
//
// The schema statements the store runs are written in the Jet dialect (Counter, long,
// char(n), several columns in one ALTER TABLE ... ADD); Execute translates them.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace fd {

// One value of a bound parameter or of a result cell.
using SqlValue = std::variant<std::monostate, int64_t, double, std::string>;
using SqlParams = std::vector<SqlValue>;

// Rewrites one of the store's Jet schema statements into the SQLite statements that do the
// same: Counter -> INTEGER PRIMARY KEY AUTOINCREMENT, long -> INTEGER, double -> REAL,
// char(n) -> TEXT COLLATE NOCASE (Jet compares text without regard to case), and an
// "ALTER TABLE t ADD a long,b char(9)" becomes one ALTER TABLE ... ADD COLUMN per column.
// Only the forms the store writes are known; anything else comes back unchanged as the
// only element.
std::vector<std::string> TranslateJetStatement(std::string_view sql);

// The value of "Data Source" in a connection string ("Provider=...;Data Source=/x/y").
std::string DataSourceOf(std::string_view connectionString);

namespace detail {
// Column names are looked up often (every field of every row); a string_view finds them
// without building a string.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        return std::hash<std::string_view>{}(name);
    }
};
using ColumnIndexMap = std::unordered_map<std::string, int, NameHash, std::equal_to<>>;

// A prepared statement together with the names of its result columns; kept by the
// connection so that a statement text is compiled once per connection.
struct CachedStatement {
    sqlite3_stmt* stmt = nullptr;
    std::shared_ptr<const std::vector<std::string>> columns;
    std::shared_ptr<const ColumnIndexMap> index;  // by lower-case name
    ~CachedStatement();
};
}  // namespace detail
}  // namespace fd

class CADODatabase {
public:
    CADODatabase();
    virtual ~CADODatabase();
    CADODatabase(const CADODatabase&) = delete;
    CADODatabase& operator=(const CADODatabase&) = delete;

    // Creates a new, empty database file; fails when the file already exists.
    bool Create(const std::string& connectionString);
    // Closes an open connection first. Opens an existing file only.
    bool Open(const std::string& connectionString);
    bool IsOpen() const { return m_db != nullptr; }
    // One statement; parameters bind to ?, ?N in order. Jet DDL is translated first.
    bool Execute(const std::string& sql, const fd::SqlParams& params = {});
    void Close();

    long GetRecordsAffected() const { return m_recordsAffected; }
    void SetConnectionTimeout(long seconds) { m_connectionTimeout = seconds; }
    const std::string& GetConnectionString() const { return m_connectionString; }
    const std::string& GetLastErrorString() const { return m_lastError; }
    const std::string& GetErrorDescription() const { return m_errorDescription; }
    uint32_t GetLastError() const { return m_lastErrorCode; }

    // For CADORecordset: a cached prepared statement, reset and with its bindings
    // cleared. Null on failure, with rc and the engine's message set.
    fd::detail::CachedStatement* Prepare(const std::string& sql, int& rc, std::string& message);
    sqlite3* Handle() const { return m_db; }
    // For CADORecordset: the remembered text of the insert or update it builds for a key
    // naming the table and the columns written; empty the first time.
    std::string& WriteStatementText(const std::string& key);

private:
    void SetError(int rc, const std::string& description);
    bool ExecuteOne(const std::string& sql, const fd::SqlParams& params, long& changes);
    void ClearCache();

    sqlite3* m_db = nullptr;
    std::string m_connectionString;
    std::string m_lastError;
    std::string m_errorDescription;
    uint32_t m_lastErrorCode = 0;
    long m_recordsAffected = 0;
    long m_connectionTimeout = 0;
    std::unordered_map<std::string, std::unique_ptr<fd::detail::CachedStatement>> m_cache;
    std::unordered_map<std::string, std::string> m_writeText;
};

// A static (fully read) result set that can also add or edit rows of the table it was
// read from. Editing needs the table's "ID" key among the columns read.
class CADORecordset {
public:
    enum EditMode { dbEditNone = 0, dbEditNew = 1, dbEditInProgress = 2 };

    explicit CADORecordset(CADODatabase* db = nullptr);
    virtual ~CADORecordset();
    CADORecordset(const CADORecordset&) = delete;
    CADORecordset& operator=(const CADORecordset&) = delete;

    void Bind(CADODatabase* db) { m_db = db; }

    bool Open(const std::string& query, const fd::SqlParams& params = {});
    bool IsOpen() const { return m_open; }
    long GetRecordCount() const { return m_open ? static_cast<long>(m_rows.size()) : 0; }
    bool IsEof() const { return !m_open || m_cursor >= m_rows.size(); }
    void MoveFirst() { m_cursor = 0; }
    void MoveNext();

    // NULL reads as 0 / empty text. False for an unknown column or no current row.
    bool GetFieldValue(std::string_view column, int32_t& value);
    bool GetFieldValue(std::string_view column, int64_t& value);
    bool GetFieldValue(std::string_view column, double& value);
    bool GetFieldValue(std::string_view column, std::string& value);

    // The column must be one of the recordset's columns. Outside AddNew the current
    // row is edited.
    bool SetFieldValue(std::string_view column, std::string_view value);
    bool SetFieldValue(std::string_view column, int32_t value);
    bool SetFieldValue(std::string_view column, uint32_t value);
    bool SetFieldValue(std::string_view column, double value);

    bool AddNew();
    void Edit() { m_editMode = dbEditInProgress; }
    // A no-op returning true when neither AddNew nor Edit came first.
    bool Update();
    void CancelUpdate();
    int GetEditMode() const { return m_editMode; }
    void Close();

    const std::string& GetQuery() const { return m_query; }
    const std::string& GetLastErrorString() const { return m_lastError; }
    uint32_t GetLastError() const { return m_lastErrorCode; }

private:
    void SetError(int rc, const std::string& description);
    int ColumnIndex(std::string_view column) const;
    int LookUpColumn(std::string_view column) const;
    // The column's index in an open recordset; -1 with the error remembered otherwise.
    int OpenColumnIndex(std::string_view column);
    const fd::SqlValue* Cell(std::string_view column);
    bool SetValue(std::string_view column, fd::SqlValue value);

    CADODatabase* m_db = nullptr;
    bool m_open = false;
    std::string m_query;
    std::string m_table;  // the table the rows came from, for AddNew/Update
    std::shared_ptr<const std::vector<std::string>> m_columns;
    std::shared_ptr<const fd::detail::ColumnIndexMap> m_index;
    std::vector<std::vector<fd::SqlValue>> m_rows;
    std::size_t m_cursor = 0;
    int m_editMode = dbEditNone;
    std::vector<std::pair<int, fd::SqlValue>> m_pending;  // column index, new value
    std::vector<std::size_t> m_pendingSlot;  // by column index: position in m_pending + 1
    void ClearPending();
    // The names asked for since the last Open, with their indexes, for the index map they
    // came from: the same sequence again is answered without hashing.
    mutable std::vector<std::pair<std::string, int>> m_recent;
    mutable std::shared_ptr<const fd::detail::ColumnIndexMap> m_recentFor;
    mutable std::size_t m_recentPos = 0;
    std::string m_lastError;
    uint32_t m_lastErrorCode = 0;
};
