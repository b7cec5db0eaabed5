// The program's interface to its song databases: open and create Access files, record sets over
// a query or a whole table, field values by name, adding and editing rows, action statements and
// the table designs. Everything above catalogue/ reaches the database through this file only.
//
// Errors. Every operation that can fail throws EngineError; the message says what happened and
// what to do (it names the file, the table or the statement). Callers that do not catch let the
// error end the operation in hand; the window layer catches it at the command boundary and shows
// it. Nothing is left half-done: each Update, Execute and design change is one all-or-nothing,
// durable write, and a failed one changes nothing.
//
// Sharing. Any number of connections, in this process or others, may be open on one file. Writes
// take turns: a write waits a few seconds for another writer and then fails with kind kInUse; a
// file Access holds open (a lock file with live locks beside it) is in use too. Reads always see
// the file as the last finished write left it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace velloran {

class EngineError : public std::runtime_error {
 public:
  enum class Kind {
    kInUse,      // another program is writing the file or holds it open; retrying may help
    kNotFound,   // no such file, table, field or index
    kInvalid,    // a statement, name, value or call the engine refuses
    kReadOnly,   // the file cannot be changed (Access 97 format, read-only file)
    kDamaged,    // the file is not a sound Access database
    kFailed,     // anything else (the system refused a read or write, ...)
  };
  EngineError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Field type codes, as the program names types when it creates fields.
enum class FieldType : int16_t {
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,
  kLong = 4,
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDate = 8,
  kBinary = 9,
  kText = 10,
  kLongBinary = 11,
  kMemo = 12,
  kGuid = 15,
  kDecimal = 20,
};

// One field's value. Null (an empty field) is distinct from the empty text.
//
// As read from a database: Yes/No fields give a bool; Byte, Integer and Long a whole number;
// Single, Double, Currency and Decimal a number; Text and Memo a text; Date/Time a text
// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (the time only when it is not midnight); Binary and long
// binary fields their bytes as upper-case hex; a GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// SetField takes those forms back and converts between numbers, texts and Yes/No as Access
// assigns them (a text that spells a number fills a number field; kInvalid when it does not).
class FieldValue {
 public:
  FieldValue() = default;  // null
  FieldValue(bool v) : value_(v) {}
  FieldValue(int32_t v) : value_(static_cast<int64_t>(v)) {}
  FieldValue(int64_t v) : value_(v) {}
  FieldValue(double v) : value_(v) {}
  FieldValue(std::string v) : value_(std::move(v)) {}
  FieldValue(const char* v) : value_(std::string(v)) {}

  bool is_null() const { return std::holds_alternative<std::monostate>(value_); }
  bool is_bool() const { return std::holds_alternative<bool>(value_); }
  bool is_integer() const { return std::holds_alternative<int64_t>(value_); }
  bool is_number() const { return std::holds_alternative<double>(value_); }
  bool is_text() const { return std::holds_alternative<std::string>(value_); }

  // The value as text, as a list shows it: null as "", Yes/No as "True"/"False", numbers in their
  // shortest decimal form (5, 2.5), dates as YYYY-MM-DD[ HH:MM:SS], binary values as hex.
  std::string ToText() const&;
  std::string ToText() &&;  // hands over a text's characters instead of copying them
  // ToText into `out`, reusing its room: a list refilled row after row then rarely allocates.
  void CopyTextTo(std::string& out) const;
  // Numbers and Booleans (True is -1); a text that spells a number is read as one; else 0.
  int64_t ToInteger() const;
  double ToNumber() const;
  // Yes/No: non-zero numbers and the texts "True"/"Yes"/"-1"/"1" (any case) are true.
  bool ToBool() const;

  // Makes the value an empty text and hands that out for filling. The room a text held before
  // is kept, so that a value refilled row after row does not allocate each time.
  std::string& ResetToText() {
    if (std::string* text = std::get_if<std::string>(&value_)) {
      text->clear();
      return *text;
    }
    return value_.emplace<std::string>();
  }

  bool operator==(const FieldValue&) const = default;

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string> value_;
};

// A whole number in decimal into `out`, keeping its room (as CopyTextTo writes one).
void FormatWhole(int64_t value, std::string& out);

// Whether two names of tables, fields or indexes name the same object: letter case does not
// count, accents do ("Ärger" is "ärger", not "Arger"). The database's own rule.
bool SameName(const std::string& a, const std::string& b);

// Table attribute flags, as the table list reports them: 0 is an ordinary local table.
constexpr uint32_t kTableHidden = 0x00000001;
constexpr uint32_t kTableSystem = 0x80000002;
constexpr uint32_t kTableLinked = 0x40000000;

struct FieldInfo {
  std::string name;
  FieldType type = FieldType::kText;
  int size = 0;  // Text: characters; other types: their storage size in bytes
  bool allow_zero_length = false;
  bool required = false;
  bool autonumber = false;
};

struct IndexInfo {
  std::string name;
  std::vector<std::string> fields;
  std::vector<bool> descending;  // one per field
  bool primary = false;
  bool unique = false;
  bool ignore_nulls = false;
};

struct TableInfo {
  std::string name;
  uint32_t attributes = 0;
  std::vector<FieldInfo> fields;    // in field order
  std::vector<IndexInfo> indexes;   // in the table's index order
};

// A field to create. Size 0 takes the type's default (Text: 255 characters).
struct NewField {
  std::string name;
  FieldType type = FieldType::kText;
  int size = 0;
  bool allow_zero_length = false;
};

// An index to create: plain (ascending, not unique) unless said otherwise.
struct NewIndex {
  std::string name;
  std::vector<std::string> fields;
  bool primary = false;
  bool unique = false;
};

// A set of rows with a current position.
//
// A query set (from a SELECT) yields the rows the statement finds, in its order; rows are read as
// the caller moves, so a walk that stops early costs only what it read. A table set (from a table
// name) yields the table's rows, in storage order or, after SelectIndex, in that index's order
// (in an ascending index rows whose key is empty come first), and can Seek on the selected index.
// Which rows a set holds is settled as it reaches them; a row's values are read when the set
// moves onto it, so they show the last finished write. A row deleted meanwhile drops out when
// the set reaches it.
//
// Position: after opening, the first row is current (or the set is at its end when it has none).
// Moving past the last row makes AtEnd() true (MoveNext there stays there); MoveFirst/MoveLast go
// back into the set.
// RecordCount() is above 0 exactly when the set has a row; it is the full number of rows only
// after the last row was visited (MoveLast), before that the rows visited so far.
//
// Editing: Edit() starts a change of the current row, AddNew() a new row whose fields start
// null (an autonumber field is filled in); SetField changes the pending row; Update() writes it
// as one durable write and leaves the position where it was (after AddNew: on the row that was
// current before). A walk goes on from where it was: after an edit that changes the key of the
// selected index, MoveNext goes to the row that followed the edited one before the change (so a
// walk that numbers rows with empty keys visits each of them once). Rows of query sets can be
// edited as well when the query reads one table (every query the engine runs does); their fields
// are the ones the query selects. A failed Update leaves the pending row as it was; a move
// abandons it; Update after Edit with no SetField writes nothing.
class Recordset {
 public:
  virtual ~Recordset() = default;

  virtual int64_t RecordCount() = 0;
  virtual bool AtEnd() const = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveLast() = 0;

  // The fields of the set, in order.
  virtual const std::vector<FieldInfo>& Fields() const = 0;
  // The current (or pending) row's value of the named field (letter case ignored); kNotFound
  // for a name the set does not have, kInvalid when there is no current row.
  // The value stays valid until the set moves, changes a field or closes.
  virtual const FieldValue& Field(const std::string& name) const = 0;
  // For a caller that reads the same fields row after row: where the named field is among
  // Fields() (kNotFound as Field), and the value at that place (as Field; kInvalid for a place
  // past the last field).
  virtual size_t FieldPosition(const std::string& name) const = 0;
  virtual const FieldValue& FieldAt(size_t position) const = 0;
  // FieldAt(position).CopyTextTo(out), for a list that keeps the texts of many rows: a set may
  // write the text straight into `out`, whose room is reused.
  virtual void CopyTextAt(size_t position, std::string& out) const { FieldAt(position).CopyTextTo(out); }

  // One field a list copies from each row: its place among Fields() and what the list keeps.
  struct CopiedField {
    enum class As : uint8_t {
      kText,   // as CopyTextAt gives it
      kWhole,  // FieldAt(position).ToInteger()
      kYesNo,  // FieldAt(position).ToBool()
    };
    size_t position = 0;
    As as = As::kText;
  };
  // The caller's rows a copy fills, one row in two calls: Start names the row (0 first) and gives
  // the rooms its texts go to (texts[k] for field k asked as kText, reused; the other entries are
  // not read); Finish then gives its numbers (numbers[k] for a kWhole field, 0 or 1 for kYesNo;
  // the other entries hold nothing). A row may be started again; it is then given again in full.
  // Two calls a row rather than one a field: a list copies a thousand rows a search.
  class CopiedRows {
   public:
    virtual ~CopiedRows() = default;
    virtual std::string* const* Start(size_t row) = 0;
    virtual void Finish(const int64_t* numbers) = 0;
  };
  // Copies the current row and those after it, up to `most`, into `rows`, each followed by a
  // MoveNext: afterwards the set is where that many MoveNexts leave it. Returns how many rows
  // were copied (fewer when the end came first). A set may copy straight from the file, all in one
  // hold of the read lock; what is copied and where the set ends are the same either way, and an
  // error a move meets is thrown with the set on the last row copied, as that move leaves it.
  virtual size_t CopyRows(const std::vector<CopiedField>& fields, size_t most, CopiedRows& rows);
  // CopyRows of the current row alone, without moving.
  void CopyCurrentRow(const std::vector<CopiedField>& fields, size_t row, CopiedRows& rows) const;
  virtual void SetField(const std::string& name, const FieldValue& value) = 0;

  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  virtual void Update() = 0;

  // Table sets only (kInvalid on a query set).
  virtual void SelectIndex(const std::string& index_name) = 0;
  // Positions on the first row whose key (on the selected index's first field) equals `key`
  // (texts compare regardless of letter case, as Access compares them); the row is current when
  // found, else NoMatch() is true and the position is undefined (AtEnd() is true). kInvalid when
  // no index is selected.
  virtual void SeekEqual(const FieldValue& key) = 0;
  virtual bool NoMatch() const = 0;

  virtual void Close() = 0;
};

class Connection {
 public:
  // Opens an existing database for reading and writing (an Access 97 file opens for reading
  // only; writes to it fail with kReadOnly). Recovers an unfinished write left by a crash.
  static std::unique_ptr<Connection> Open(const std::string& path);
  // Open and HoldReads in one: opening's own reads and the caller's share one take of the lock.
  static std::unique_ptr<Connection> OpenHoldingReads(const std::string& path);
  // Creates a new, empty Access 2000 database; kInvalid when a file is already there.
  static void Create(const std::string& path);
  // Whether the file at `path` is an Access 97 database, which opens for reading only.
  static bool IsAccess97(const std::string& path);
  // Copies the database at `source` into a new Access 2000 file at `target`: every table with
  // its rows and indexes (saved queries, forms and relationships stay behind); `source` is only
  // read. kInvalid when a file is already at `target`; a failure leaves nothing there.
  static void ConvertToAccess2000(const std::string& source, const std::string& target);

  virtual ~Connection() = default;
  virtual const std::string& path() const = 0;

  // A query set for a SELECT statement, or a table set for a table name (letter case ignored;
  // "[Name]" works too). A table set fails with kInUse while another program holds the file for
  // writing (after waiting up to a second for a write under way to finish).
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& source) = 0;
  // Runs UPDATE, DROP INDEX or DROP TABLE as one write.
  virtual void Execute(const std::string& statement) = 0;

  // The table definitions, as of the last refresh (the first call after opening refreshes): every
  // table, system tables included, in the file's catalogue order, each with its attribute flags.
  virtual void RefreshTableDefs() = 0;
  virtual const std::vector<TableInfo>& TableDefs() const = 0;
  // The current design of one table (letter case ignored); kNotFound when there is none.
  virtual TableInfo TableDef(const std::string& name) = 0;

  // Design changes, each one write. A new table has the fields given and no rows.
  virtual void CreateTable(const std::string& table, const std::vector<NewField>& fields) = 0;
  virtual void AppendField(const std::string& table, const NewField& field) = 0;
  virtual void DeleteField(const std::string& table, const std::string& field) = 0;
  virtual void AppendIndex(const std::string& table, const NewIndex& index) = 0;

  // For a burst of reads that runs straight through (a design check, filling a list): until
  // ReleaseReads, reads through this connection and its sets see the file as it is now, and skip
  // taking the read lock one by one, which costs several system calls each time. Every other
  // connection's write waits for the release (this program's other connections too, which give up
  // with kInUse after a few seconds), so never hold across a question to the user, and write
  // only through the holding connection meanwhile. A write through this connection ends the
  // hold. A table set that finds another program writing lets go of the hold until that write has
  // finished and then holds again, so reads after it see the file as that write left it.
  virtual void HoldReads() = 0;
  virtual void ReleaseReads() = 0;

  // Facts a check finds out about the file, kept while the file stays as it is, so that the
  // check can be skipped the next time. Remember keeps `note` for the file as the hold under way
  // has seen it, and only on a connection opened holding its reads (OpenHoldingReads) whose hold
  // has lasted since (so every read behind the fact saw the same file); else it keeps nothing. Remembers is true
  // while the file is as it was then: any write to it, from any program, forgets every note. The
  // notes belong to this program; a note on a file changed in the last moments is not kept, as a
  // later change might then go unnoticed.
  virtual void Remember(const std::string& note) = 0;
  virtual bool Remembers(const std::string& note) = 0;

  // Makes the writes that follow, up to CommitTrans, one all-or-nothing change (the file is held
  // for writing meanwhile). A write that fails inside the transaction rolls all of it back.
  // Closing the connection with a transaction open rolls it back.
  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void Rollback() = 0;

  // Ends the connection and every set opened through it (their calls fail with kInvalid from
  // then on); destroying the connection does the same.
  virtual void Close() = 0;
};

}  // namespace velloran
