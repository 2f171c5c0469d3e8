#include "table/proxy_table.h"

#include "platform/codec.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace vorsa {
namespace {

// A record in a block: a shared handle, one pointer wide.
using RecordPtr = PackedRecord;

// Addresses are digits and dots; for those the locale's collation is plain byte order, so
// the collator (by far the slowest part of a sort) is only asked about other texts.
bool isPlain(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

QCollator& collator() {
    static QCollator c = [] {
        QCollator col(QLocale::system());
        col.setCaseSensitivity(Qt::CaseSensitive);
        col.setNumericMode(false);
        return col;
    }();
    return c;
}

int compareText(std::string_view a, std::string_view b) {
    if (isPlain(a) && isPlain(b))
        return a.compare(b);
    return collator().compare(gbk::toUnicode(a), gbk::toUnicode(b));
}

// Order of one field: a missing value before any value; text by collation, false before
// true, numbers numerically.
int compareField(const PackedRecord& a, const PackedRecord& b, Field f) {
    const bool an = a.isNull(f), bn = b.isNull(f);
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    switch (f) {
        case Field::Verified:
            return int(*a.verified()) - int(*b.verified());
        case Field::Speed: {
            const auto x = *a.speed(), y = *b.speed();
            return x < y ? -1 : (x == y ? 0 : 1);
        }
        default:
            return compareText(a.view(f), b.view(f));
    }
}

// The first 16 characters of a digit-and-dot text as one number in their order: four bits a
// character, 0 past the end, '.' before the digits, as in byte order. Texts that are longer
// compare whole when their prefixes tie.
std::uint64_t plainPrefix(std::string_view s) {
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        std::uint64_t c = 0;
        if (i < s.size())
            c = s[i] == '.' ? 1u : static_cast<std::uint64_t>(s[i] - '0') + 2u;
        k = (k << 4) | c;
    }
    return k;
}

constexpr std::size_t kBlock = 512;
// Row counts from which a shrinking table gives its freed memory back to the system.
constexpr std::size_t kReleaseRows = 65536;

}  // namespace

// The records in blocks of at most 2 * kBlock, so that inserting at the front or in the
// middle costs a block, not the whole table. A small position cache makes walking with the
// cursor O(1) per step.
struct ProxyTable::Store {
    std::vector<std::vector<RecordPtr>> blocks;
    std::size_t total = 0;
    // Most records held since memory was last given back.
    std::size_t peak = 0;
    mutable std::size_t cacheBlock = 0, cacheStart = 0;

    std::size_t size() const { return total; }

    std::pair<std::size_t, std::size_t> locate(std::size_t i) const {
        if (cacheBlock < blocks.size() && i >= cacheStart &&
            i < cacheStart + blocks[cacheBlock].size())
            return {cacheBlock, i - cacheStart};
        std::size_t b = 0, start = 0;
        if (cacheBlock < blocks.size() && i >= cacheStart) {
            b = cacheBlock;
            start = cacheStart;
        }
        while (i >= start + blocks[b].size()) {
            start += blocks[b].size();
            ++b;
        }
        cacheBlock = b;
        cacheStart = start;
        return {b, i - start};
    }

    const RecordPtr& at(std::size_t i) const {
        auto [b, o] = locate(i);
        return blocks[b][o];
    }
    RecordPtr& at(std::size_t i) {
        auto [b, o] = locate(i);
        return blocks[b][o];
    }

    void insert(std::size_t i, RecordPtr r) {
        if (blocks.empty())
            blocks.emplace_back();
        std::size_t b, o;
        if (i >= total) {
            b = blocks.size() - 1;
            o = blocks[b].size();
            cacheStart = total - o;
        } else {
            std::tie(b, o) = locate(i);
        }
        auto& blk = blocks[b];
        blk.insert(blk.begin() + static_cast<std::ptrdiff_t>(o), std::move(r));
        ++total;
        peak = std::max(peak, total);
        if (blk.size() > 2 * kBlock) {
            std::vector<RecordPtr> tail(std::make_move_iterator(blk.begin() + kBlock),
                                        std::make_move_iterator(blk.end()));
            blk.resize(kBlock);
            blk.shrink_to_fit();
            blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(tail));
        }
        // Block b still starts where it did: the next step near here needs no walk.
        cacheBlock = b;
    }

    void erase(std::size_t i) {
        auto [b, o] = locate(i);
        auto& blk = blocks[b];
        blk.erase(blk.begin() + static_cast<std::ptrdiff_t>(o));
        --total;
        if (blk.empty())
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(b));
        // Block b (or the one that followed an emptied block) starts where block b started, so
        // a walk that deletes as it goes stays O(1) a step.
        const std::size_t start = i - o;
        cacheBlock = b;
        cacheStart = start;
        releaseIfShrunk();
    }

    // After the table lost most of its records, hands the freed memory back.
    void releaseIfShrunk() {
        if (peak - total >= kReleaseRows && total < peak / 2) {
            if (blocks.capacity() > 2 * blocks.size())
                blocks.shrink_to_fit();
            releaseFreeMemory();
            peak = total;
        }
    }

    void clearBlocks() {
        blocks.clear();
        total = 0;
        cacheBlock = 0;
    }

    void releaseAll() {
        std::vector<std::vector<RecordPtr>>().swap(blocks);
        total = 0;
        cacheBlock = 0;
        releaseIfShrunk();
    }

    std::vector<RecordPtr> takeAll() {
        std::vector<RecordPtr> all;
        all.reserve(total);
        for (auto& blk : blocks)
            for (auto& r : blk)
                all.push_back(std::move(r));
        clearBlocks();
        return all;
    }

    void assign(std::vector<RecordPtr>&& all) {
        clearBlocks();
        blocks.reserve(all.size() / kBlock + 1);
        for (std::size_t i = 0; i < all.size(); i += kBlock) {
            std::size_t end = std::min(all.size(), i + kBlock);
            blocks.emplace_back(
                std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(i)),
                std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        total = all.size();
        peak = std::max(peak, total);
        cacheBlock = blocks.size();
    }

    // Removes the records keep refuses, block by block in place; blocks left small are
    // joined again.
    void keepIf(const std::function<bool(const PackedRecord&)>& keep) {
        std::size_t kept = 0, small = 0;
        for (auto& blk : blocks) {
            std::size_t n = 0;
            for (std::size_t i = 0; i < blk.size(); ++i)
                if (keep(blk[i]))
                    blk[n++] = std::move(blk[i]);
            blk.resize(n);
            kept += n;
            small += n < kBlock / 4 ? 1 : 0;
        }
        blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                                    [](const std::vector<RecordPtr>& b) { return b.empty(); }),
                     blocks.end());
        total = kept;
        cacheBlock = blocks.size();
        if (small * 4 > blocks.size())
            assign(takeAll());
        releaseIfShrunk();
    }

    // First position whose record is not less than rec on f, assuming the records are in f
    // order: bisect the blocks by their last record, then inside the block.
    std::size_t lowerBound(const PackedRecord& rec, Field f) const {
        std::size_t lo = 0, hi = blocks.size();
        while (lo < hi) {
            std::size_t mid = (lo + hi) / 2;
            if (compareField(blocks[mid].back(), rec, f) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == blocks.size())
            return total;
        std::size_t start = 0;
        for (std::size_t b = 0; b < lo; ++b)
            start += blocks[b].size();
        const auto& blk = blocks[lo];
        auto it = std::lower_bound(
            blk.begin(), blk.end(), rec,
            [f](const RecordPtr& a, const PackedRecord& v) { return compareField(a, v, f) < 0; });
        return start + static_cast<std::size_t>(it - blk.begin());
    }
};

ProxyTable::ProxyTable() : m_store(std::make_unique<Store>()) {}
ProxyTable::~ProxyTable() = default;

void ProxyTable::opentable() {
    m_open = true;
}

void ProxyTable::requireOpen() const {
    if (!m_open)
        throw std::logic_error("ProxyTable is not open");
}

int ProxyTable::count() const {
    return m_open ? static_cast<int>(m_store->size()) : 0;
}

void ProxyTable::gofirst() {
    postrecord();
    m_cursor = 0;
}

void ProxyTable::gonext() {
    goforward(1);
}

void ProxyTable::goforward(int n) {
    postrecord();
    const auto size = static_cast<long long>(m_store->size());
    if (size == 0) {
        m_cursor = 0;
        return;
    }
    long long pos = static_cast<long long>(m_cursor) + n;
    m_cursor = static_cast<std::size_t>(std::clamp(pos, 0LL, size - 1));
}

int ProxyTable::recno() const {
    return count() > 0 ? static_cast<int>(m_cursor) + 1 : 0;
}

std::string ProxyTable::getfield(Field f) const {
    if (m_mode != Mode::Browse)
        return m_pending.text(f);
    return count() > 0 ? m_store->at(m_cursor).text(f) : std::string();
}

bool ProxyTable::getflag(Field f) const {
    if (m_mode != Mode::Browse)
        return f == Field::Verified && m_pending.Verified.value_or(false);
    return count() > 0 && f == Field::Verified && m_store->at(m_cursor).verified().value_or(false);
}

bool ProxyTable::isNull(Field f) const {
    if (m_mode != Mode::Browse)
        return m_pending.isNull(f);
    return count() == 0 || m_store->at(m_cursor).isNull(f);
}

ProxyRecord& ProxyTable::pendingOrCurrent() {
    requireOpen();
    if (m_mode == Mode::Browse)
        editrecord();
    return m_pending;
}

void ProxyTable::setfield(Field f, std::string_view text) {
    pendingOrCurrent().setText(f, text);
}

void ProxyTable::setflag(Field f, bool value) {
    if (f != Field::Verified)
        throw std::invalid_argument("not a flag field");
    pendingOrCurrent().Verified = value;
}

void ProxyTable::setinteger(Field f, std::int32_t value) {
    if (f != Field::Speed)
        throw std::invalid_argument("not an integer field");
    pendingOrCurrent().Speed = value;
}

void ProxyTable::addrecord() {
    requireOpen();
    postrecord();
    m_pending = ProxyRecord{};
    m_mode = Mode::Insert;
}

void ProxyTable::editrecord() {
    requireOpen();
    if (m_mode != Mode::Browse)
        return;
    if (m_store->size() == 0)
        throw std::logic_error("ProxyTable is empty: no record to edit");
    m_pending = current();
    m_mode = Mode::Edit;
}

std::size_t ProxyTable::placementFor(const PackedRecord& rec) const {
    if (!m_sortKey)
        return m_store->size();
    const Field key = *m_sortKey;
    if (m_sorted)
        return m_store->lowerBound(rec, key);
    for (std::size_t i = 0; i < m_store->size(); ++i)
        if (compareField(m_store->at(i), rec, key) >= 0)
            return i;
    return m_store->size();
}

void ProxyTable::postrecord() {
    if (m_mode == Mode::Insert) {
        PackedRecord rec(m_pending);
        const std::size_t pos = placementFor(rec);
        m_store->insert(pos, std::move(rec));
        m_cursor = pos;
    } else if (m_mode == Mode::Edit) {
        PackedRecord& rec = m_store->at(m_cursor);
        rec = PackedRecord(m_pending);
        // A change never moves the record; it may leave the table out of key order.
        if (m_sortKey && m_sorted) {
            const Field key = *m_sortKey;
            if ((m_cursor > 0 && compareField(m_store->at(m_cursor - 1), rec, key) > 0) ||
                (m_cursor + 1 < m_store->size() &&
                 compareField(rec, m_store->at(m_cursor + 1), key) > 0))
                m_sorted = false;
        }
    }
    m_mode = Mode::Browse;
    m_pending = ProxyRecord{};
}

void ProxyTable::cancel() {
    m_mode = Mode::Browse;
    m_pending = ProxyRecord{};
}

void ProxyTable::deleterecord() {
    requireOpen();
    cancel();
    if (m_store->size() == 0)
        throw std::logic_error("ProxyTable is empty: no record to delete");
    m_store->erase(m_cursor);
    if (m_cursor >= m_store->size() && m_cursor > 0)
        m_cursor = m_store->size() - 1;
    if (m_store->size() == 0)
        m_sorted = true;
}

void ProxyTable::sortby(Field key) {
    requireOpen();
    postrecord();
    auto all = m_store->takeAll();
    const bool text = fieldDef(key).type == FieldType::Text;
    bool plain = true;
    if (text)
        for (const auto& r : all)
            if (!r.isNull(key) && !isPlain(r.view(key))) {
                plain = false;
                break;
            }
    if (text && !plain) {
        // Collation keys once per record instead of two conversions per comparison.
        struct Keyed {
            RecordPtr rec;
            std::optional<QCollatorSortKey> key;
        };
        std::vector<Keyed> keyed;
        keyed.reserve(all.size());
        for (auto& r : all) {
            std::optional<QCollatorSortKey> k;
            if (!r.isNull(key))
                k = collator().sortKey(gbk::toUnicode(r.view(key)));
            keyed.push_back({std::move(r), std::move(k)});
        }
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            if (!a.key || !b.key)
                return !a.key && b.key;
            return a.key->compare(*b.key) < 0;
        });
        all.clear();
        for (auto& k : keyed)
            all.push_back(std::move(k.rec));
    } else if (text) {
        // Every value is digits and dots: byte order is the collation order. A record without
        // a value sorts first; ties keep their order (the original position breaks them).
        struct Keyed {
            std::uint64_t prefix;
            std::uint32_t index;
            // 0 without a value, else 1 + the length (saturated).
            std::uint32_t size;
        };
        std::vector<Keyed> keyed(all.size());
        const auto less = [&](const Keyed& a, const Keyed& b) {
            if ((a.size == 0) != (b.size == 0))
                return a.size == 0;
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix;
            // Equal prefixes of texts of at most 16 characters are equal texts.
            if (a.size > 17 && b.size > 17) {
                const int c = all[a.index].view(key).compare(all[b.index].view(key));
                if (c != 0)
                    return c < 0;
            } else if (a.size != b.size) {
                return a.size < b.size;  // the shorter is the prefix of the longer
            }
            return a.index < b.index;
        };
        const auto sortRange = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const std::string_view v = all[i].view(key);
                const std::size_t size = std::min<std::size_t>(v.size(), 0xFFFFFFF0u) + 1;
                keyed[i] = {plainPrefix(v), static_cast<std::uint32_t>(i),
                            all[i].isNull(key) ? 0u : static_cast<std::uint32_t>(size)};
            }
            std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(from),
                      keyed.begin() + static_cast<std::ptrdiff_t>(to), less);
        };
        // A large table is keyed and sorted in two halves at once, then merged: the stored
        // records are only read, and this thread waits for the helper before anything else
        // runs. Ties keep the table order (the index breaks them).
        const std::size_t half = all.size() / 2;
        if (all.size() >= 65536) {
            std::thread helper([&] { sortRange(half, all.size()); });
            sortRange(0, half);
            helper.join();
            std::inplace_merge(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(half),
                               keyed.end(), less);
        } else {
            sortRange(0, all.size());
        }
        std::vector<RecordPtr> sorted;
        sorted.reserve(all.size());
        for (const Keyed& k : keyed)
            sorted.push_back(std::move(all[k.index]));
        all = std::move(sorted);
    } else {
        std::stable_sort(all.begin(), all.end(), [key](const RecordPtr& a, const RecordPtr& b) {
            return compareField(a, b, key) < 0;
        });
    }
    m_store->assign(std::move(all));
    m_sortKey = key;
    m_sorted = true;
    m_cursor = 0;
}

void ProxyTable::keepIf(const std::function<bool(const PackedRecord&)>& keep) {
    requireOpen();
    postrecord();
    m_store->keepIf(keep);
    const std::size_t kept = m_store->size();
    m_cursor = kept > 0 ? kept - 1 : 0;
    if (kept == 0)
        m_sorted = true;
}

ProxyRecord ProxyTable::current() const {
    if (m_store->size() == 0)
        throw std::logic_error("ProxyTable is empty");
    return m_store->at(m_cursor).unpack();
}

ProxyRecord ProxyTable::at(int position) const {
    return stored(position).unpack();
}

const PackedRecord& ProxyTable::stored(int position) const {
    if (position < 1 || static_cast<std::size_t>(position) > m_store->size())
        throw std::out_of_range("no record at position " + std::to_string(position));
    return m_store->at(static_cast<std::size_t>(position - 1));
}

void ProxyTable::clear() {
    cancel();
    m_store->releaseAll();
    m_cursor = 0;
    m_sorted = true;
}

}  // namespace vorsa
