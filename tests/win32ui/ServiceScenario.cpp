#include "tests/win32ui/ServiceScenario.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "tests/win32ui/KeyInput.h"
#include "tests/win32ui/ProgramUnderTest.h"
#include "tests/win32ui/WindowSnapshot.h"

namespace qv::uitest {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kFoundTimeoutMs = 30000;
constexpr DWORD kStepTimeoutMs = 20000;
constexpr DWORD kKeyTimeoutMs = 3000;
// Tab stops of the whole window at most, the register grid's page included.
constexpr int kMostTabStops = 60;

// A device whose status registers say: connected, PCM, 96 kHz (rate code 3); firmware 2.7.
constexpr const char* kSetup = "model=Brevanto_RX1;status=030001;version=0207";

// Tab indexes of the service window, in page order.
constexpr WPARAM kParameterTab = 3, kInformationTab = 4;

// The grid tells its cells as its window text: rows by line, cells by tab.
std::vector<std::vector<std::string>> GridCells(HWND grid) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(WindowText(grid));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::string Cell(const std::vector<std::vector<std::string>>& rows, int col, int row) {
  if (row >= static_cast<int>(rows.size()) || col >= static_cast<int>(rows[row].size())) return {};
  return rows[row][col];
}

HWND FindGrid(HWND window) {
  for (const ChildWindow& child : ChildWindows(window))
    if (child.windowClass == "QvStringGrid" && child.visible) return child.hwnd;
  return nullptr;
}

void Click(HWND button) {
  // Posted: the handler runs inside the program's own message loop.
  PostMessageA(button, BM_CLICK, 0, 0);
}

bool Checked(HWND radio) {
  return SendMessageA(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// On the parameter page with "512 Fs" chosen: Tab reaches the choice of its group, stopping only
// on controls in sight; the arrows move the choice within the group and back; Ctrl+Tab shows
// the next page (the Information page) with the focus on it, Ctrl+Shift+Tab the page before.
void CheckKeyboard(HWND window, HWND mclk, Failures& failures) {
  HWND focus = FocusIn(window);
  for (int presses = 0; presses < kMostTabStops && focus != mclk; ++presses) {
    HWND before = focus;
    focus = PressAndWaitForFocusMove(window, Keys{.key = VK_TAB}, before, kKeyTimeoutMs);
    if (focus == before) break;
    failures.Check(focus && IsWindowVisible(focus) && IsWindowEnabled(focus),
                   "Tab stopped on \"" + WindowText(focus) + "\", which is hidden or disabled");
  }
  if (focus != mclk) {
    failures.Check(false, "Tab did not reach \"512 Fs\" on the parameter page");
    return;
  }
  HWND next = PressAndWaitForFocusMove(window, Keys{.key = VK_DOWN}, mclk, kKeyTimeoutMs);
  failures.Check(
      next != mclk && GetParent(next) == GetParent(mclk) && Checked(next) && !Checked(mclk),
      "Down on \"512 Fs\" did not choose the next button of its group");
  std::printf("Down moves the choice to \"%s\"\n", WindowText(next).c_str());
  HWND back = PressAndWaitForFocusMove(window, Keys{.key = VK_UP}, next, kKeyTimeoutMs);
  failures.Check(back == mclk && Checked(mclk), "Up did not choose \"512 Fs\" again");

  PressAndWaitForFocusMove(window, Keys{.key = VK_TAB, .ctrl = true}, mclk, kKeyTimeoutMs);
  HWND update = ChildHandle(window, "Update", "Button");
  focus = FocusIn(window);
  failures.Check(update && IsWindowVisible(update) && focus && IsWindowVisible(focus),
                 "Ctrl+Tab did not show the Information page with the focus on it");
  PressAndWaitForFocusMove(window, Keys{.key = VK_TAB, .shift = true, .ctrl = true}, focus,
                           kKeyTimeoutMs);
  HWND readBack = ChildHandle(window, "Read back", "Button");
  failures.Check(readBack && IsWindowVisible(readBack) && IsWindowVisible(FocusIn(window)),
                 "Ctrl+Shift+Tab did not show the parameter page again");
}

}  // namespace

int RunServiceScenario(const std::string& program, const std::string& screenshot) {
  Failures failures;
  const ULONGLONG started = GetTickCount64();
  ProgramUnderTest sim(program, kSetup);
  if (!sim.Started()) return 1;
  HWND window = sim.WaitForMainWindow(kMainCaption, kStartTimeoutMs, started);
  if (!window) return 1;
  RECT rect{};
  GetWindowRect(window, &rect);
  failures.Check(rect.right - rect.left == 607 && rect.bottom - rect.top == 637,
                 "window size " + std::to_string(rect.right - rect.left) + " x " +
                     std::to_string(rect.bottom - rect.top) + ", expected 607 x 637");
  if (!sim.WaitUntil([&] { return LabelShown(window, "Find Device Brevanto RX1"); },
                     kFoundTimeoutMs)) {
    failures.Check(false, "the device was not found");
    return 1;
  }

  // Register page (shown first): the bank the chip has selected, bank 0 with its status and
  // version registers.
  HWND readBank = ChildHandle(window, "Read Bank", "Button");
  HWND grid = FindGrid(window);
  failures.Check(readBank && grid, "no \"Read Bank\" button or register grid in sight");
  if (readBank && grid) {
    Click(readBank);
    const bool read = sim.WaitUntil(
        [&] {
          const auto rows = GridCells(grid);
          return Cell(rows, 16, 16) != "" && ChildHandle(window, "Read Bank", "Button");
        },
        kStepTimeoutMs);
    const auto rows = GridCells(grid);
    failures.Check(read, "the bank read did not fill the grid");
    // Row A0 is grid row 11; registers A4, A6, AE and AF are its columns 5, 7, 15 and 16.
    failures.Check(Cell(rows, 5, 11) == "03" && Cell(rows, 7, 11) == "01",
                   "status registers A4/A6 show \"" + Cell(rows, 5, 11) + "\"/\"" +
                       Cell(rows, 7, 11) + "\", expected 03/01");
    failures.Check(Cell(rows, 15, 11) == "02" && Cell(rows, 16, 11) == "07",
                   "version registers AE/AF show \"" + Cell(rows, 15, 11) + "\"/\"" +
                       Cell(rows, 16, 11) + "\", expected 02/07");
    failures.Check(Cell(rows, 0, 11) == "A0" && Cell(rows, 5, 0) == "04",
                   "the grid's headers are not the register numbers");
  }

  // Information page: Update.
  ChooseTab(window, kInformationTab);
  if (HWND update = ChildHandle(window, "Update", "Button")) {
    Click(update);
    const bool shown = sim.WaitUntil(
        [&] {
          return LabelShown(window, "USB connected") && LabelShown(window, "Playing") &&
                 LabelShown(window, "PCM") && LabelShown(window, "   96KHz");
        },
        kStepTimeoutMs);
    failures.Check(shown,
                   "after Update the page does not show \"USB connected\", \"Playing\", "
                   "\"PCM\" and \"   96KHz\"");
  } else {
    failures.Check(false, "no \"Update\" button");
  }

  // Parameter page: the device reports an EEPROM, which the start record does not.
  ChooseTab(window, kParameterTab);
  failures.Check(
      sim.WaitUntil([&] { return LabelShown(window, "EEPROM not Available"); }, kStepTimeoutMs),
      "before Read back the page does not show \"EEPROM not Available\"");
  if (HWND readBack = ChildHandle(window, "Read back", "Button")) {
    Click(readBack);
    failures.Check(
        sim.WaitUntil([&] { return LabelShown(window, "EEPROM Exist"); }, kStepTimeoutMs),
        "after Read back the page does not show \"EEPROM Exist\"");
    // The record read back is A1 00 00 80: bits 4-5 of A1 are 2, "512 Fs".
    HWND mclk = ChildHandle(window, "512 Fs", "Button");
    failures.Check(mclk && Checked(mclk), "after Read back \"512 Fs\" is not checked");
    if (mclk && Checked(mclk)) CheckKeyboard(window, mclk, failures);
  } else {
    failures.Check(false, "no \"Read back\" button");
  }

  return sim.Finish(window, screenshot, "service", started, failures);
}

}  // namespace qv::uitest
