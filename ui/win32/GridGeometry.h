#pragma once

#include <optional>
#include <utility>

#include "ui/Controls.h"

namespace qv::ui {

// Where a string grid's cells lie in its client area: fixed-size cells, one pixel of grid line
// after each column and row, no scrolling (the tool's grids show all their cells).
inline constexpr int kGridLineWidth = 1;

struct CellBox {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

inline CellBox CellBounds(const StringGrid& grid, int col, int row) {
  const int left = col * (grid.DefaultColWidth() + kGridLineWidth);
  const int top = row * (grid.DefaultRowHeight() + kGridLineWidth);
  return {left, top, left + grid.DefaultColWidth(), top + grid.DefaultRowHeight()};
}

// The cell under a client point, grid lines counting to the cell before them; nothing outside
// the cells.
inline std::optional<std::pair<int, int>> CellAt(const StringGrid& grid, int x, int y) {
  if (x < 0 || y < 0) return std::nullopt;
  const int col = x / (grid.DefaultColWidth() + kGridLineWidth);
  const int row = y / (grid.DefaultRowHeight() + kGridLineWidth);
  if (col >= grid.ColCount() || row >= grid.RowCount()) return std::nullopt;
  return std::pair{col, row};
}

// The cell an arrow-like key moves the selection to, kept off the fixed cells and inside the
// grid.
enum class GridMove { Left, Right, Up, Down, Home, End, PageUp, PageDown };

inline std::pair<int, int> MovedCell(const StringGrid& grid, GridMove move) {
  int col = grid.Col();
  int row = grid.Row();
  switch (move) {
    case GridMove::Left:
      --col;
      break;
    case GridMove::Right:
      ++col;
      break;
    case GridMove::Up:
      --row;
      break;
    case GridMove::Down:
      ++row;
      break;
    case GridMove::Home:
      col = grid.FixedCols();
      break;
    case GridMove::End:
      col = grid.ColCount() - 1;
      break;
    case GridMove::PageUp:
      row = grid.FixedRows();
      break;
    case GridMove::PageDown:
      row = grid.RowCount() - 1;
      break;
  }
  if (col < grid.FixedCols()) col = grid.FixedCols();
  if (row < grid.FixedRows()) row = grid.FixedRows();
  if (col >= grid.ColCount()) col = grid.ColCount() - 1;
  if (row >= grid.RowCount()) row = grid.RowCount() - 1;
  return {col, row};
}

}  // namespace qv::ui
