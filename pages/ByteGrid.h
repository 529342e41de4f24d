#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

#include "app/Unit1.h"

// What the register page and the I2C Access page share: a 16 x 16 grid of one byte per address
// with its headers, a row of eight bit boxes found by name, and the two labels of the selected
// byte. A byte whose last read failed is shown as not read ("--"), never as the value an earlier
// read left.
namespace qv {

// The controls and bytes of one such page.
struct ByteView {
  ui::StringGrid& grid;
  std::array<std::uint8_t, 256>& image;
  std::bitset<256>& unread;
  std::string bitPrefix;  // "chkBit": the box for bit N is named prefix + N
  ui::Label& addressLabel;
  ui::Label& valueLabel;
};

// What a cell of a byte whose read failed shows.
inline constexpr const char* kUnreadCell = kUnreadText;

// The address of a grid cell: (row - 1) x 16 + (column - 1), in 8 bits.
std::uint8_t CellAddress(int col, int row);

// The header highlight of a selection: the row headers up to the grid's current row and all the
// column headers back to the button face, then the headers of the selected row and column
// silver.
void HighlightHeaders(ui::StringGrid& grid, int col, int row);

// Setting the boxes from code is no click, so no handler runs.
void ShowBits(TForm1& form, const std::string& prefix, std::uint8_t value);
std::uint8_t CheckedBits(TForm1& form, const std::string& prefix);
// A box's mouse-up comes after the click has toggled it: a refused one toggles it back, so it
// shows what it showed before.
void UndoBoxClick(ui::Control& box);

// After a read (or a write and its read-back) of the cell's byte: marks it read or not, and
// shows it in the cell and the bit boxes: its value, or "--" and no bit.
void ShowByte(TForm1& form, ByteView& view, int col, int row, bool read);
// "= 0x" and the byte, or that it was not read.
void ShowValueLabel(ByteView& view, std::uint8_t address);

// Reads the grid's 256 bytes in one open of the connection, one `read` each, into the image and
// the cells, letting input through between two of them. `prepare`, run once after the open, sets
// up what the reads go through; when it fails no byte is read. A click on `button` starts the read
// and turns it into "Stop"; a click on "Stop" ends the read at its next byte. Nothing happens
// without a device or while another operation holds the connection.
void ReadGrid(TForm1& form, ui::Button& button, const char* idleCaption, ByteView& view,
              const std::function<bool()>& prepare,
              const std::function<bool(std::uint8_t address, std::uint8_t& value)>& read);

// A value as the pages show it: two upper-case hexadecimal digits, without prefix.
std::string ByteText(std::uint8_t value);

// The byte a typed cell or address text stands for: the text with "0x" put in front, converted
// as an integer (a text that is no hexadecimal number raises the conversion error), low 8 bits.
std::uint8_t TypedByte(const std::string& text);

}  // namespace qv
