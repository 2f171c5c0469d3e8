#pragma once

#include "table/proxy_record.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorsa {

// The one ordered list of proxies the program works on, with a single cursor shared by
// every user. Closed (and empty to read) until opentable. Main thread only.
//
// Placement of a posted new record: at the end until the first sort; once the table has a
// sort key, before the first record whose value for that key is equal or greater (a missing
// value counts lower than any), else at the end.
class ProxyTable {
public:
    ProxyTable();
    ~ProxyTable();
    ProxyTable(const ProxyTable&) = delete;
    ProxyTable& operator=(const ProxyTable&) = delete;

    void opentable();
    bool isOpen() const { return m_open; }

    int count() const;

    void gofirst();
    void gonext();          // stays on the last record
    void goforward(int n);  // clamps to the first or last record
    // 1-based position of the current record; 0 when the table is empty.
    int recno() const;

    std::string getfield(Field f) const;
    bool getflag(Field f) const;
    bool isNull(Field f) const;
    // Write a field of the record being added or edited. Outside addrecord/editrecord the
    // current record is put into edit mode first.
    void setfield(Field f, std::string_view text);
    void setflag(Field f, bool value);
    void setinteger(Field f, std::int32_t value);

    void addrecord();
    void editrecord();
    void postrecord();
    // Drops a pending addrecord/editrecord without storing it.
    void cancel();

    // Removes the current record; the cursor moves to the record that followed it, or to the
    // new last one. Throws std::logic_error on an empty table.
    void deleterecord();

    void sortby(Field key);

    // Walks the records in order and removes those keep refuses, in one pass (deleting them
    // one by one costs a shift each). The cursor rests on the last record; the order and the
    // sort key stay.
    void keepIf(const std::function<bool(const PackedRecord&)>& keep);
    std::optional<Field> sortKey() const { return m_sortKey; }

    // The current record (its stored values, not a pending edit). Requires count() > 0.
    ProxyRecord current() const;
    // The record at a 1-based position, for readers that do not move the cursor.
    ProxyRecord at(int position) const;
    // The stored form of the record at a 1-based position: what the grid keeps of a row.
    const PackedRecord& stored(int position) const;

    // Removes every record; the sort key stays. Memory of a large table goes back to the
    // system (so it does when deletions leave less than half of the records).
    void clear();

private:
    struct Store;
    enum class Mode { Browse, Insert, Edit };

    void requireOpen() const;
    ProxyRecord& pendingOrCurrent();
    std::size_t placementFor(const PackedRecord& rec) const;

    std::unique_ptr<Store> m_store;
    bool m_open = false;
    std::optional<Field> m_sortKey;
    // True while the records are known to be in m_sortKey order, so placement may bisect.
    bool m_sorted = false;
    std::size_t m_cursor = 0;
    Mode m_mode = Mode::Browse;
    ProxyRecord m_pending;
};

}  // namespace vorsa
