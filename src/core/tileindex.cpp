#include "tileindex.h"

#include <memory>
#include <optional>
#include <vector>

#include "sqlitehandles.h"
#include "textutil.h"

namespace corvalis {

namespace {

struct ValueFree {
    void operator()(sqlite3_value* v) const noexcept { sqlite3_value_free(v); }
};
using Value = std::unique_ptr<sqlite3_value, ValueFree>;

bool IsIntegerOrNull(const Value& v) {
    const int t = sqlite3_value_type(v.get());
    return t == SQLITE_INTEGER || t == SQLITE_NULL;
}

// What sqlite3_column_int would give for the value: NULL reads as 0, and a
// 64-bit integer keeps its low 32 bits.
std::int32_t AsInt32(const Value& v) {
    return sqlite3_value_int(v.get());
}

void Bind(sqlite3_stmt* st, std::initializer_list<sqlite3_value*> params) {
    int i = 1;
    for (sqlite3_value* p : params) sqlite3_bind_value(st, i++, p);
}

// Runs a one-value statement whose parameters are bound; null when it fails.
Value StepOne(sqlite3_stmt* st) {
    const StatementScope scope(st);
    Value result;
    if (sqlite3_step(st) == SQLITE_ROW)
        result.reset(sqlite3_value_dup(sqlite3_column_value(st, 0)));
    return result;
}

Value SeekOne(sqlite3_stmt* st, std::initializer_list<sqlite3_value*> params) {
    Bind(st, params);
    return StepOne(st);
}

// The first row of a statement with two result columns: ok is false when the
// statement fails, found is false when it has no row.
struct SeekPair {
    bool ok = false, found = false;
    Value first, second;
};

SeekPair SeekTwo(sqlite3_stmt* st, std::initializer_list<sqlite3_value*> params) {
    const StatementScope scope(st);
    Bind(st, params);
    SeekPair result;
    const int rc = sqlite3_step(st);
    result.ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (rc == SQLITE_ROW) {
        result.found = true;
        result.first.reset(sqlite3_value_dup(sqlite3_column_value(st, 0)));
        result.second.reset(sqlite3_value_dup(sqlite3_column_value(st, 1)));
        result.ok = result.first && result.second;
    }
    return result;
}

// Lowest and highest 64-bit integer seen (empty while only NULLs were seen).
struct IntRange {
    std::optional<std::int64_t> lo, hi;
    void Add(const Value& v) {
        if (sqlite3_value_type(v.get()) != SQLITE_INTEGER) return;
        const std::int64_t x = sqlite3_value_int64(v.get());
        if (!lo || x < *lo) lo = x;
        if (!hi || x > *hi) hi = x;
    }
};

std::int32_t Low32(const std::optional<std::int64_t>& v) {
    return v ? static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(*v)))
             : 0;
}

class ExtentSeeker {
public:
    ExtentSeeker(sqlite3* db, const TileColumns& c) : db_(db) {
        const std::string z = c.zoom, x = c.column, y = c.row,
                          from = " FROM " + QuoteIdentifier(c.table);
        const std::string all =
            "SELECT min(" + x + "), max(" + x + "), min(" + y + "), max(" + y + ")" + from;
        firstZ_ = Prepare("SELECT min(" + z + ")" + from);
        nextZ_ = Prepare("SELECT min(" + z + ")" + from + " WHERE " + z + " > ?1");
        nullZ_ = Prepare("SELECT 1" + from + " WHERE " + z + " IS NULL LIMIT 1");
        nullZGroup_ = Prepare(all + " WHERE " + z + " IS NULL");
        levelGroup_ = Prepare(all + " WHERE " + z + " = ?1");
        minX_ = Prepare("SELECT min(" + x + ")" + from + " WHERE " + z + " = ?1");
        maxX_ = Prepare("SELECT max(" + x + ")" + from + " WHERE " + z + " = ?1");
        // The next column and its first row in one seek: the row after the
        // last one of the column before, in index order.
        nextColumn_ = Prepare("SELECT " + x + ", " + y + from + " WHERE " + z + " = ?1 AND " + x +
                              " > ?2 ORDER BY " + x + ", " + y + " LIMIT 1");
        minY_ =
            Prepare("SELECT min(" + y + ")" + from + " WHERE " + z + " = ?1 AND " + x + " = ?2");
        maxY_ =
            Prepare("SELECT max(" + y + ")" + from + " WHERE " + z + " = ?1 AND " + x + " = ?2");
        minYNullX_ =
            Prepare("SELECT min(" + y + ")" + from + " WHERE " + z + " = ?1 AND " + x + " IS NULL");
        maxYNullX_ =
            Prepare("SELECT max(" + y + ")" + from + " WHERE " + z + " = ?1 AND " + x + " IS NULL");
        after_ = Prepare("SELECT ?1 > ?2");
    }

    bool Run(const StoredZoomFilter& wanted, const ExtentRowVisitor& visit,
             std::string& errorText) {
        if (!prepared_) {
            errorText = sqlite3_errmsg(db_);
            return false;
        }
        // The NULL group comes first, as in the grouped query.
        {
            const StatementScope scope(nullZ_.get());
            if (sqlite3_step(nullZ_.get()) == SQLITE_ROW &&
                !AggregateRow(nullZGroup_.get(), 0, {}, visit))
                return Failed(errorText);
        }

        Value level = SeekOne(firstZ_.get(), {});
        while (level && sqlite3_value_type(level.get()) != SQLITE_NULL) {
            const std::int32_t zs = AsInt32(level);
            if (sqlite3_value_type(level.get()) == SQLITE_INTEGER &&
                (zs < wanted.first || zs > wanted.last)) {
                if (!Advance(level, SkipUnusable(sqlite3_value_int64(level.get()), zs, wanted),
                             errorText))
                    return false;
                continue;
            }
            if (!wanted.accept(zs)) {
                visit(zs, 0, 0, 0, 0);
            } else if (!Level(level, zs, visit)) {
                return Failed(errorText);
            }
            if (!Advance(level, SeekOne(nextZ_.get(), {level.get()}), errorText)) return false;
        }
        return level ? true : Failed(errorText);
    }

private:
    // The first zoom value after the integer v (whose 32-bit reading zs is
    // unusable) that can read as a level in [first, last]. Every integer up to
    // the next one whose low 32 bits come back into range is passed over, and
    // with them the reals that truncate to such integers.
    Value SkipUnusable(std::int64_t v, std::int32_t zs, const StoredZoomFilter& wanted) {
        const std::int64_t step = zs < wanted.first
                                      ? std::int64_t{wanted.first} - zs
                                      : (std::int64_t{1} << 32) - (std::int64_t{zs} - wanted.first);
        const std::int64_t bound = v <= INT64_MAX - step ? v + step - 1 : v;
        sqlite3_bind_int64(nextZ_.get(), 1, bound);
        return StepOne(nextZ_.get());
    }

    SqliteStatement Prepare(const std::string& sql) {
        SqliteStatement st = PrepareStatement(db_, sql.c_str());
        if (!st) prepared_ = false;
        return st;
    }

    // Whether a sorts after b in the index's (binary) order. A damaged index
    // can hand back a value that does not, and the seeks would never end.
    bool After(sqlite3_value* a, sqlite3_value* b) {
        const Value after = SeekOne(after_.get(), {a, b});
        return after && sqlite3_value_int(after.get()) == 1;
    }

    // The next stored zoom value (null when the seek fails), or false when a
    // damaged index gives one that does not come after the current one.
    bool Advance(Value& level, Value next, std::string& errorText) {
        if (next && sqlite3_value_type(next.get()) != SQLITE_NULL &&
            !After(next.get(), level.get()))
            return OutOfOrder(errorText);
        level = std::move(next);
        return true;
    }

    static bool OutOfOrder(std::string& errorText) {
        errorText = "the tile index is out of order";
        return false;
    }

    bool Failed(std::string& errorText) const {
        errorText = sqlite3_errmsg(db_);
        return false;
    }

    // The four aggregates of one group computed by a single statement.
    bool AggregateRow(sqlite3_stmt* st, std::int32_t zs,
                      std::initializer_list<sqlite3_value*> params, const ExtentRowVisitor& visit) {
        const StatementScope scope(st);
        Bind(st, params);
        const bool ok = sqlite3_step(st) == SQLITE_ROW;
        if (ok)
            visit(zs, sqlite3_column_int(st, 0), sqlite3_column_int(st, 1),
                  sqlite3_column_int(st, 2), sqlite3_column_int(st, 3));
        return ok;
    }

    // One level through seeks: its columns, then each column's first and last
    // row. The first row of a column comes with the seek that finds the
    // column; only when it holds NULL (which min() passes over) is min() asked.
    bool Level(const Value& level, std::int32_t zs, const ExtentRowVisitor& visit) {
        sqlite3_value* z = level.get();
        if (sqlite3_value_type(z) != SQLITE_INTEGER)
            return AggregateRow(levelGroup_.get(), zs, {z}, visit);
        const Value x0 = SeekOne(minX_.get(), {z});
        const Value x1 = SeekOne(maxX_.get(), {z});
        if (!x0 || !x1) return false;
        if (!IsIntegerOrNull(x0) || !IsIntegerOrNull(x1))
            return AggregateRow(levelGroup_.get(), zs, {z}, visit);

        IntRange rows;
        const Value nullLo = SeekOne(minYNullX_.get(), {z});
        const Value nullHi = SeekOne(maxYNullX_.get(), {z});
        if (!nullLo || !nullHi) return false;
        if (!IsIntegerOrNull(nullLo) || !IsIntegerOrNull(nullHi))
            return AggregateRow(levelGroup_.get(), zs, {z}, visit);
        rows.Add(nullLo);
        rows.Add(nullHi);

        Value x(sqlite3_value_dup(x0.get()));
        if (!x) return false;
        Value first;
        if (sqlite3_value_type(x.get()) == SQLITE_INTEGER)
            first = SeekOne(minY_.get(), {z, x.get()});
        while (sqlite3_value_type(x.get()) == SQLITE_INTEGER) {
            if (first && sqlite3_value_type(first.get()) == SQLITE_NULL)
                first = SeekOne(minY_.get(), {z, x.get()});
            const Value last = SeekOne(maxY_.get(), {z, x.get()});
            if (!first || !last) return false;
            if (!IsIntegerOrNull(first) || !IsIntegerOrNull(last))
                return AggregateRow(levelGroup_.get(), zs, {z}, visit);
            rows.Add(first);
            rows.Add(last);
            SeekPair next = SeekTwo(nextColumn_.get(), {z, x.get()});
            if (!next.ok) return false;
            if (!next.found) break;  // that was the last column
            // Only a damaged index gives a column that does not come after this one.
            if (sqlite3_value_type(next.first.get()) == SQLITE_INTEGER &&
                sqlite3_value_int64(next.first.get()) <= sqlite3_value_int64(x.get()))
                return false;
            x = std::move(next.first);
            first = std::move(next.second);
            // A column value of another type after the integers: let SQLite decide.
            if (sqlite3_value_type(x.get()) != SQLITE_INTEGER)
                return AggregateRow(levelGroup_.get(), zs, {z}, visit);
        }
        visit(zs, AsInt32(x0), AsInt32(x1), Low32(rows.lo), Low32(rows.hi));
        return true;
    }

    sqlite3* db_;
    bool prepared_ = true;
    SqliteStatement firstZ_, nextZ_, nullZ_, nullZGroup_, levelGroup_, minX_, maxX_, nextColumn_,
        minY_, maxY_, minYNullX_, maxYNullX_, after_;
};

}  // namespace

TableIndexes InspectTileIndexes(sqlite3* db, const TileColumns& columns) {
    TableIndexes result;
    auto list = PrepareStatement(db, "SELECT name, partial FROM pragma_index_list(?1);");
    auto info = PrepareStatement(
        db, "SELECT name, coll, desc FROM pragma_index_xinfo(?1) WHERE key = 1 ORDER BY seqno;");
    if (!list || !info) return result;
    sqlite3_bind_text(list.get(), 1, columns.table, -1, SQLITE_STATIC);
    while (sqlite3_step(list.get()) == SQLITE_ROW) {
        if (sqlite3_column_int(list.get(), 1) != 0)
            continue;  // partial indexes do not serve every level
        std::vector<std::pair<std::string, std::string>> keys;
        bool zoomDescending = false;
        {
            const StatementScope scope(info.get());
            sqlite3_bind_value(info.get(), 1, sqlite3_column_value(list.get(), 0));
            while (sqlite3_step(info.get()) == SQLITE_ROW) {
                const auto* name =
                    reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
                const auto* coll =
                    reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
                if (keys.empty()) zoomDescending = sqlite3_column_int(info.get(), 2) != 0;
                keys.emplace_back(name ? name : "", coll ? coll : "");
            }
        }
        if (keys.empty()) continue;
        const std::string& first = keys[0].first;
        if (AsciiIEquals(first, columns.zoom) || AsciiIEquals(first, columns.column) ||
            AsciiIEquals(first, columns.row))
            result.anyTileIndex = true;
        // A descending zoom key may walk the grouped query's levels from the
        // top: the seeks, which go upward, would then visit them in another order.
        if (keys.size() >= 2 && !zoomDescending && AsciiIEquals(first, columns.zoom) &&
            AsciiIEquals(keys[1].first, columns.column) && AsciiIEquals(keys[0].second, "BINARY") &&
            AsciiIEquals(keys[1].second, "BINARY"))
            result.zoomColumnLeading = true;
    }
    return result;
}

bool SeekZoomExtents(sqlite3* db, const TileColumns& columns, const StoredZoomFilter& wanted,
                     const ExtentRowVisitor& visit, std::string& errorText) {
    // One snapshot for every seek, as the single grouped query reads; the file
    // lock is taken once instead of once per statement (which costs more than
    // the seek itself).
    ReadTransaction snapshot(db);
    ExtentSeeker seeker(db, columns);
    return seeker.Run(wanted, visit, errorText);
}

}  // namespace corvalis
