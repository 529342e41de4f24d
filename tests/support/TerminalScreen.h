#pragma once

// What a terminal of a given width shows after a text: returns, line feeds, the cursor moved up
// (ESC [ n A) and down (ESC [ n B), the rest of a line cleared (ESC [ K), and a line that reaches
// the last column wrapped as a terminal wraps it, at the next character.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace qv::test {

inline std::vector<std::string> Screen(const std::string& text, std::size_t columns = 10000) {
  std::vector<std::string> rows(1);
  std::size_t row = 0, column = 0;
  const auto lineFeed = [&] {
    ++row;
    if (rows.size() <= row) rows.resize(row + 1);
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t end = i + 2, n = 0;
      for (; end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])); ++end)
        n = n * 10 + static_cast<std::size_t>(text[end] - '0');
      if (end == text.size()) break;
      if (text[end] == 'A') row -= std::min(n, row);
      if (text[end] == 'B') row = std::min(row + n, rows.size() - 1);  // not below the screen
      if (text[end] == 'K') rows[row].resize(std::min(column, rows[row].size()));
      if (text[end] != 'K') column = std::min(column, columns - 1);
      i = end;
    } else if (text[i] == '\r') {
      column = 0;
    } else if (text[i] == '\n') {
      lineFeed();
      column = 0;
    } else {
      if (column == columns) {  // the character after the last column goes on the next line
        lineFeed();
        column = 0;
      }
      if (rows[row].size() <= column) rows[row].resize(column + 1, ' ');
      rows[row][column++] = text[i];
    }
  }
  return rows;
}

}  // namespace qv::test
