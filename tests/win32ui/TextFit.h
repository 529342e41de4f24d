#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// Whether a window's texts fit: each text of a label, button, check box, radio button, edit,
// labelled edit and group box, measured with the font its control draws it in, must lie inside
// its control where the control draws it, inside what its parents show, and off every other
// control in sight. Reads the window through Win32 in the window's own process, where the
// controls' fonts can be measured.

namespace qv::uitest {

struct TextFitReport {
  int texts = 0;  // texts checked
  // One sentence per text that does not fit or covers another control, with where it was seen
  // first (a control seen on several pages counts once).
  std::map<std::string, std::string> problems;
  // Each font the controls asked for ("MS Sans Serif, 16 px"), with the face the desktop gave.
  std::map<std::string, std::string> fonts;
};

// Checks the texts of every visible control of a top-level window; `where` names the window or
// page in the problems it adds.
void CheckTextFit(HWND window, const std::string& where, TextFitReport& report);

}  // namespace qv::uitest
