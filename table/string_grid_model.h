#pragma once

#include "table/proxy_record.h"

#include <QAbstractTableModel>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// The proxy grid in string-grid terms: eight columns, row 0 is the header row, rows 1.. are
// data rows. Cells hold GBK bytes and are converted to Unicode only when a view asks.
//
// A data row drawn from the table keeps the stored record it shows instead of copies of its
// texts: its cells are the row's number, the record's four texts, the tick and the speed of a
// verified record, and an empty last cell. Cells written later (a check's result) are kept
// beside it in one small allocation. The row shows the record as it was drawn: a record
// changed or deleted afterwards keeps its old texts in the grid until the next redraw.
class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 8;

    class Row {
    public:
        Row() = default;
        // A row showing rec, whose cells are derived from it.
        explicit Row(PackedRecord rec) : m_rec(std::move(rec)) {}
        Row(const Row& o);
        Row(Row&&) noexcept = default;
        Row& operator=(Row o) noexcept {
            std::swap(m_rec, o.m_rec);
            std::swap(m_cells, o.m_cells);
            return *this;
        }

        // The cell's text; rowNumber is the row's grid row (1..), the first cell of a drawn row.
        std::string cell(int col, int rowNumber) const;
        void setCell(int col, std::string_view text);

    private:
        // True, with text set, when col was written.
        bool written(int col, std::string_view& text) const;
        std::size_t cellsSize() const;

        PackedRecord m_rec;
        // Written cells: a byte with one bit per column, a 32-bit length per written column,
        // then their bytes in column order. Null while no cell was written.
        std::unique_ptr<char[]> m_cells;
    };

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
    // Hands memory back after the grid lost most of its rows.
    void releaseIfShrunk(std::size_t before);

    std::array<std::string, kColumnCount> m_header;
    std::vector<Row> m_rows;
};

}  // namespace vorsa
