#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/Unit1.h"

// What the register page and the I2C Access page share: a 16 x 16 grid of one byte per address
// with its headers, and a row of eight bit boxes found by name.
namespace qv {

// The address of a grid cell: (row - 1) x 16 + (column - 1), in 8 bits.
std::uint8_t CellAddress(int col, int row);

// The header highlight of a selection: the row headers up to the grid's current row and all the
// column headers back to the button face, then the headers of the selected row and column
// silver.
void HighlightHeaders(ui::StringGrid& grid, int col, int row);

// The box for bit N is named prefix + N ("chkBit7"). Setting them from code is no click, so
// no handler runs.
void ShowBits(TForm1& form, const std::string& prefix, std::uint8_t value);
std::uint8_t CheckedBits(TForm1& form, const std::string& prefix);

// Reads the grid's 256 bytes in one open of the connection, one `read` each, into `image` and the
// cells, letting input through between two of them. A click on `button` starts the read and
// turns it into "Stop"; a click on "Stop" ends the read at its next byte. A failed read leaves the
// byte's last known value, which its cell then shows. Nothing happens without a device or while
// another operation holds the connection.
void ReadGrid(TForm1& form, ui::Button& button, const char* idleCaption, ui::StringGrid& grid,
              std::array<std::uint8_t, 256>& image,
              const std::function<void(std::uint8_t address, std::uint8_t& value)>& read);

// A value as the pages show it: two upper-case hexadecimal digits, without prefix.
std::string ByteText(std::uint8_t value);

// The byte a typed cell or address text stands for: the text with "0x" put in front, converted
// as an integer (a text that is no hexadecimal number raises the conversion error), low 8 bits.
std::uint8_t TypedByte(const std::string& text);

}  // namespace qv
