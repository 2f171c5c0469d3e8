#include "table/string_grid_model.h"

#include "platform/codec.h"

#include <cstdint>
#include <cstring>

namespace vorsa {
namespace {

// Rows from which a shrinking grid gives its freed memory back to the system.
constexpr std::size_t kReleaseRows = 65536;

const std::string& tickMark() {
    static const std::string s = gbk::text("√");
    return s;
}

}  // namespace

StringGridModel::Row::Row(const Row& o) : m_rec(o.m_rec) {
    if (o.m_cells) {
        const std::size_t n = o.cellsSize();
        m_cells.reset(new char[n]);
        std::memcpy(m_cells.get(), o.m_cells.get(), n);
    }
}

std::size_t StringGridModel::Row::cellsSize() const {
    const auto mask = static_cast<unsigned char>(m_cells[0]);
    std::size_t n = 1;
    for (int c = 0; c < kColumnCount; ++c) {
        if (!(mask & (1u << c)))
            continue;
        std::uint32_t len;
        std::memcpy(&len, m_cells.get() + n, sizeof len);
        n += sizeof len + len;
    }
    return n;
}

bool StringGridModel::Row::written(int col, std::string_view& text) const {
    if (!m_cells)
        return false;
    const auto mask = static_cast<unsigned char>(m_cells[0]);
    if (!(mask & (1u << col)))
        return false;
    // Lengths first, then the bytes, both in column order.
    const char* p = m_cells.get() + 1;
    std::size_t count = 0, offset = 0, len = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        if (!(mask & (1u << c)))
            continue;
        std::uint32_t l;
        std::memcpy(&l, p + count * sizeof l, sizeof l);
        if (c < col)
            offset += l;
        else if (c == col)
            len = l;
        ++count;
    }
    text = std::string_view(p + count * sizeof(std::uint32_t) + offset, len);
    return true;
}

std::string StringGridModel::Row::cell(int col, int rowNumber) const {
    std::string_view text;
    if (written(col, text))
        return std::string(text);
    if (!m_rec)
        return {};
    switch (col) {
        case 0:
            return std::to_string(rowNumber);
        case 1:
        case 2:
        case 3:
        case 4:
            return std::string(m_rec.view(static_cast<Field>(col - 1)));
        case 5:
            return m_rec.verified().value_or(false) ? tickMark() : std::string();
        case 6:
            return m_rec.verified().value_or(false) ? m_rec.text(Field::Speed) : std::string();
        default:
            return {};
    }
}

void StringGridModel::Row::setCell(int col, std::string_view text) {
    std::array<std::string_view, kColumnCount> cells{};
    unsigned mask = 1u << col;
    if (m_cells) {
        mask |= static_cast<unsigned char>(m_cells[0]);
        for (int c = 0; c < kColumnCount; ++c)
            if (c != col)
                written(c, cells[static_cast<std::size_t>(c)]);
    }
    cells[static_cast<std::size_t>(col)] = text;
    std::size_t n = 1;
    for (int c = 0; c < kColumnCount; ++c)
        if (mask & (1u << c))
            n += sizeof(std::uint32_t) + cells[static_cast<std::size_t>(c)].size();
    std::unique_ptr<char[]> out(new char[n]);
    out[0] = static_cast<char>(mask);
    char* lens = out.get() + 1;
    std::size_t count = 0;
    for (int c = 0; c < kColumnCount; ++c)
        if (mask & (1u << c))
            ++count;
    char* bytes = lens + count * sizeof(std::uint32_t);
    for (int c = 0; c < kColumnCount; ++c) {
        if (!(mask & (1u << c)))
            continue;
        const std::string_view t = cells[static_cast<std::size_t>(c)];
        const auto l = static_cast<std::uint32_t>(t.size());
        std::memcpy(lens, &l, sizeof l);
        lens += sizeof l;
        std::memcpy(bytes, t.data(), t.size());
        bytes += t.size();
    }
    m_cells = std::move(out);
}

StringGridModel::StringGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void StringGridModel::setGridRowCount(int rows) {
    const int data = std::max(rows, 1) - 1;
    const int old = static_cast<int>(m_rows.size());
    if (data == old)
        return;
    if (data > old) {
        beginInsertRows(QModelIndex(), old, data - 1);
        m_rows.resize(static_cast<std::size_t>(data));
        endInsertRows();
    } else {
        beginRemoveRows(QModelIndex(), data, old - 1);
        m_rows.resize(static_cast<std::size_t>(data));
        endRemoveRows();
        releaseIfShrunk(static_cast<std::size_t>(old));
    }
}

std::string StringGridModel::cell(int col, int row) const {
    if (col < 0 || col >= kColumnCount || row < 0 || row >= gridRowCount())
        return {};
    return row == 0 ? m_header[static_cast<std::size_t>(col)]
                    : m_rows[static_cast<std::size_t>(row - 1)].cell(col, row);
}

void StringGridModel::setCell(int col, int row, std::string_view text) {
    if (col < 0 || col >= kColumnCount || row < 0 || row >= gridRowCount())
        return;
    if (row == 0) {
        m_header[static_cast<std::size_t>(col)] = std::string(text);
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    m_rows[static_cast<std::size_t>(row - 1)].setCell(col, text);
    const QModelIndex i = index(row - 1, col);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

void StringGridModel::setDataRows(std::vector<Row>&& rows) {
    const std::size_t before = m_rows.size();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    releaseIfShrunk(before);
}

void StringGridModel::releaseIfShrunk(std::size_t before) {
    if (before - std::min(before, m_rows.size()) >= kReleaseRows && m_rows.size() < before / 2) {
        m_rows.shrink_to_fit();
        releaseFreeMemory();
    }
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const std::string text =
        m_rows[static_cast<std::size_t>(index.row())].cell(index.column(), index.row() + 1);
    if (text.empty())
        return {};
    return gbk::toUnicode(text);
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return QString::number(section + 1);
    if (section < 0 || section >= kColumnCount)
        return {};
    return gbk::toUnicode(m_header[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
}

}  // namespace vorsa
