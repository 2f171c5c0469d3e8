#include "table/proxy_table.h"

#include "platform/codec.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>

#include <algorithm>
#include <stdexcept>

namespace vorsa {
namespace {

// Records live in slabs owned by the store (one allocation per kSlab records instead of one
// per record); the ordered blocks hold plain pointers into them.
using RecordPtr = ProxyRecord*;

// Addresses are digits and dots; for those the locale's collation is plain byte order, so
// the collator (by far the slowest part of a sort) is only asked about other texts.
bool isPlain(const std::string& s) {
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

int compareText(const std::string& a, const std::string& b) {
    if (isPlain(a) && isPlain(b))
        return a.compare(b);
    return collator().compare(gbk::toUnicode(a), gbk::toUnicode(b));
}

const std::string& textOf(const ProxyRecord& r, Field f) {
    switch (f) {
        case Field::Ip:
            return *r.Ip;
        case Field::Port:
            return *r.Port;
        case Field::Protocol:
            return *r.Protocol;
        default:
            return *r.Location;
    }
}

// Order of one field: a missing value before any value; text by collation, false before
// true, numbers numerically.
int compareField(const ProxyRecord& a, const ProxyRecord& b, Field f) {
    const bool an = a.isNull(f), bn = b.isNull(f);
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    switch (f) {
        case Field::Verified:
            return int(*a.Verified) - int(*b.Verified);
        case Field::Speed:
            return *a.Speed < *b.Speed ? -1 : (*a.Speed == *b.Speed ? 0 : 1);
        default:
            return compareText(textOf(a, f), textOf(b, f));
    }
}

constexpr std::size_t kBlock = 512;
constexpr std::size_t kSlab = 4096;

}  // namespace

// The records in blocks of at most kBlock, so that inserting at the front or in the middle
// costs a block, not the whole table. A small position cache makes walking with the cursor
// O(1) per step.
struct ProxyTable::Store {
    std::vector<std::vector<RecordPtr>> blocks;
    std::vector<std::unique_ptr<ProxyRecord[]>> slabs;
    std::size_t slabUsed = kSlab;
    std::vector<RecordPtr> freeRecords;
    std::size_t total = 0;
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

    ProxyRecord& at(std::size_t i) const {
        auto [b, o] = locate(i);
        return *blocks[b][o];
    }

    RecordPtr make(ProxyRecord&& value) {
        RecordPtr r;
        if (!freeRecords.empty()) {
            r = freeRecords.back();
            freeRecords.pop_back();
        } else {
            if (slabUsed == kSlab) {
                slabs.emplace_back(new ProxyRecord[kSlab]);
                slabUsed = 0;
            }
            r = &slabs.back()[slabUsed++];
        }
        *r = std::move(value);
        return r;
    }

    void insert(std::size_t i, RecordPtr r) {
        if (blocks.empty())
            blocks.emplace_back();
        std::size_t b, o;
        if (i >= total) {
            b = blocks.size() - 1;
            o = blocks[b].size();
        } else {
            std::tie(b, o) = locate(i);
        }
        auto& blk = blocks[b];
        blk.insert(blk.begin() + static_cast<std::ptrdiff_t>(o), std::move(r));
        ++total;
        if (blk.size() > 2 * kBlock) {
            std::vector<RecordPtr> tail(std::make_move_iterator(blk.begin() + kBlock),
                                        std::make_move_iterator(blk.end()));
            blk.resize(kBlock);
            blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(tail));
        }
        cacheBlock = blocks.size();  // invalid
    }

    void erase(std::size_t i) {
        auto [b, o] = locate(i);
        auto& blk = blocks[b];
        *blk[o] = ProxyRecord{};
        freeRecords.push_back(blk[o]);
        blk.erase(blk.begin() + static_cast<std::ptrdiff_t>(o));
        --total;
        if (blk.empty())
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(b));
        cacheBlock = blocks.size();
    }

    // Forgets the order only; the records stay in their slabs (a sort takes them out and
    // puts them back).
    void clearBlocks() {
        blocks.clear();
        total = 0;
        cacheBlock = 0;
    }

    void releaseAll() {
        clearBlocks();
        freeRecords.clear();
        slabs.clear();
        slabUsed = kSlab;
    }

    std::vector<RecordPtr> takeAll() {
        std::vector<RecordPtr> all;
        all.reserve(total);
        for (auto& blk : blocks)
            for (auto& r : blk)
                all.push_back(r);
        clearBlocks();
        return all;
    }

    void assign(std::vector<RecordPtr>&& all) {
        clearBlocks();
        for (std::size_t i = 0; i < all.size(); i += kBlock) {
            std::size_t end = std::min(all.size(), i + kBlock);
            blocks.emplace_back(
                std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(i)),
                std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        total = all.size();
        cacheBlock = blocks.size();
    }

    // First position whose record is not less than rec on f, assuming the records are in f
    // order: bisect the blocks by their last record, then inside the block.
    std::size_t lowerBound(const ProxyRecord& rec, Field f) const {
        std::size_t lo = 0, hi = blocks.size();
        while (lo < hi) {
            std::size_t mid = (lo + hi) / 2;
            if (compareField(*blocks[mid].back(), rec, f) < 0)
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
            [f](const RecordPtr& a, const ProxyRecord& v) { return compareField(*a, v, f) < 0; });
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
    return count() > 0 ? current().text(f) : std::string();
}

bool ProxyTable::getflag(Field f) const {
    if (m_mode != Mode::Browse)
        return f == Field::Verified && m_pending.Verified.value_or(false);
    return count() > 0 && f == Field::Verified && current().Verified.value_or(false);
}

bool ProxyTable::isNull(Field f) const {
    if (m_mode != Mode::Browse)
        return m_pending.isNull(f);
    return count() == 0 || current().isNull(f);
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

std::size_t ProxyTable::placementFor(const ProxyRecord& rec) const {
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
        const std::size_t pos = placementFor(m_pending);
        m_store->insert(pos, m_store->make(std::move(m_pending)));
        m_cursor = pos;
    } else if (m_mode == Mode::Edit) {
        ProxyRecord& rec = m_store->at(m_cursor);
        rec = std::move(m_pending);
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
            if (!r->isNull(key) && !isPlain(textOf(*r, key))) {
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
            if (!r->isNull(key))
                k = collator().sortKey(gbk::toUnicode(r->text(key)));
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
        // Every value is digits and dots: byte order is the collation order.
        std::stable_sort(all.begin(), all.end(), [key](const RecordPtr& a, const RecordPtr& b) {
            const bool an = a->isNull(key), bn = b->isNull(key);
            if (an || bn)
                return an && !bn;
            return textOf(*a, key) < textOf(*b, key);
        });
    } else {
        std::stable_sort(all.begin(), all.end(), [key](const RecordPtr& a, const RecordPtr& b) {
            return compareField(*a, *b, key) < 0;
        });
    }
    m_store->assign(std::move(all));
    m_sortKey = key;
    m_sorted = true;
    m_cursor = 0;
}

const ProxyRecord& ProxyTable::current() const {
    if (m_store->size() == 0)
        throw std::logic_error("ProxyTable is empty");
    return m_store->at(m_cursor);
}

const ProxyRecord& ProxyTable::at(int position) const {
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
