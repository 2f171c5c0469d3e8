#pragma once

#include <QAbstractTableModel>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// The proxy grid in string-grid terms: eight columns, row 0 is the header row, rows 1.. are
// data rows. Cells hold GBK bytes and are converted to Unicode only when a view asks.
class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 8;
    using Row = std::array<std::string, kColumnCount>;

    explicit StringGridModel(QObject* parent = nullptr);

    // Header row plus data rows, as a string grid counts them. At least 1.
    int gridRowCount() const { return static_cast<int>(m_rows.size()) + 1; }
    void setGridRowCount(int rows);

    std::string cell(int col, int row) const;
    void setCell(int col, int row, std::string_view text);

    // Replaces every data row in one step (one model reset).
    void setDataRows(std::vector<Row>&& rows);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    Row m_header;
    std::vector<Row> m_rows;
};

}  // namespace vorsa
