#include "table/string_grid_model.h"

#include "platform/codec.h"

namespace vorsa {

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
    }
}

std::string StringGridModel::cell(int col, int row) const {
    if (col < 0 || col >= kColumnCount || row < 0 || row >= gridRowCount())
        return {};
    return row == 0 ? m_header[static_cast<std::size_t>(col)]
                    : m_rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(col)];
}

void StringGridModel::setCell(int col, int row, std::string_view text) {
    if (col < 0 || col >= kColumnCount || row < 0 || row >= gridRowCount())
        return;
    if (row == 0) {
        m_header[static_cast<std::size_t>(col)] = std::string(text);
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    m_rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(col)] = std::string(text);
    const QModelIndex i = index(row - 1, col);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

void StringGridModel::setDataRows(std::vector<Row>&& rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
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
    const auto& text =
        m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
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
