// SPDX-License-Identifier: GPL-3.0-or-later
// Tdatatype: the table of x/value rows that the plot layer draws as curves.
#pragma once

#include <cassert>
#include <cstddef>
#include <vector>

namespace kelvane {

// Rows of 1 + n 32-bit floats. Row 0 is the header: cell 0 is the layout flag (> 0.5 means seven
// style rows follow and data starts at row 8, otherwise at row 1), cell k names the y-axis slot
// 1 .. 4 of value column k. In a data row, cell 0 is x and cell k the value of column k.
class Tdatatype {
 public:
  Tdatatype() = default;
  Tdatatype(int rowCount, int cellsPerRow)
      : rows_(rowCount > 0 ? rowCount : 0),
        cells_(cellsPerRow > 0 ? cellsPerRow : 0),
        data_(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cells_), 0.0f) {}

  int RowCount() const { return rows_; }
  int CellsPerRow() const { return cells_; }
  int ValueColumns() const { return cells_ > 0 ? cells_ - 1 : 0; }
  int FirstDataRow() const { return rows_ > 0 && cells_ > 0 && data_[0] > 0.5f ? 8 : 1; }

  float& At(int row, int cell) { return data_[Index(row, cell)]; }
  float At(int row, int cell) const { return data_[Index(row, cell)]; }

 private:
  std::size_t Index(int row, int cell) const {
    assert(row >= 0 && row < rows_ && cell >= 0 && cell < cells_);
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cells_) +
           static_cast<std::size_t>(cell);
  }

  int rows_ = 0;
  int cells_ = 0;
  std::vector<float> data_;
};

// A table for `count` points and `columns` value columns: rows 0 .. count, cell 0 of row r is r
// (each point's x defaults to its row number), header cell k is k, every value is 0.
Tdatatype NewDataTable(int count, int columns);

}  // namespace kelvane
