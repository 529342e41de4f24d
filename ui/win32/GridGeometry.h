#pragma once

#include <optional>
#include <utility>

#include "ui/Controls.h"
#include "ui/win32/DpiScale.h"

namespace qv::ui {

// Where a string grid's cells lie in its client area, in device pixels: fixed-size cells, a grid
// line of one device pixel after each column and row, no scrolling (the tool's grids show all
// their cells). Cell and line together take the layout's pitch at the window's scale, so the grid
// fills the same share of its window at every scale.
inline constexpr int kGridLineWidth = 1;

struct CellBox {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

inline CellBox CellBounds(const StringGrid& grid, int col, int row, const DpiScale& scale) {
  const int colPitch = grid.DefaultColWidth() + kGridLineWidth;
  const int rowPitch = grid.DefaultRowHeight() + kGridLineWidth;
  return {scale(col * colPitch), scale(row * rowPitch),
          scale((col + 1) * colPitch) - kGridLineWidth,
          scale((row + 1) * rowPitch) - kGridLineWidth};
}

// The cell under a client point, grid lines counting to the cell before them; nothing outside
// the cells.
inline std::optional<std::pair<int, int>> CellAt(const StringGrid& grid, int x, int y,
                                                 const DpiScale& scale) {
  if (x < 0 || y < 0) return std::nullopt;
  // The first column (row) whose pitch ends beyond the point.
  int col = 0;
  while (col < grid.ColCount() && x >= CellBounds(grid, col, 0, scale).right + kGridLineWidth)
    ++col;
  int row = 0;
  while (row < grid.RowCount() && y >= CellBounds(grid, 0, row, scale).bottom + kGridLineWidth)
    ++row;
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
