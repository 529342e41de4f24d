#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Message box styles and answers with the values MessageBoxA uses, so the Windows shell passes
// them through unchanged. (Own names: the Windows headers define the usual ones as macros.)
inline constexpr unsigned kMbOk = 0x00000000;
inline constexpr unsigned kMbOkCancel = 0x00000001;
inline constexpr unsigned kMbYesNo = 0x00000004;
inline constexpr unsigned kMbIconError = 0x00000010;
inline constexpr unsigned kMbIconQuestion = 0x00000020;
inline constexpr unsigned kMbIconExclamation = 0x00000030;
inline constexpr unsigned kMbIconInformation = 0x00000040;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// What a file dialog is asked to show: the filter as "Description|*.a;*.b|Description|*.c",
// the extension appended to a typed name without one, and an initial file name.
struct FileDialogRequest {
  std::string filter;
  std::string defaultExt;
  std::string fileName;
  std::string title;
};

// The desktop the window program lives on: boxes, dialogs, the message pump, screen density and
// the working directory.
class Shell {
 public:
  virtual ~Shell() = default;

  // A modal message box without owner window; returns the button pressed (kIdOk, kIdCancel...).
  virtual int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) = 0;

  // The common open and save dialogs; the full path chosen, or nothing when cancelled.
  virtual std::optional<std::string> ShowOpenDialog(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> ShowSaveDialog(const FileDialogRequest& request) = 0;

  // Lets the window handle what is waiting (repaints, clicks, timer ticks) during a long loop.
  virtual void ProcessMessages() = 0;

  // The application's standard error box for an exception that reached the event loop.
  virtual void ShowException(std::string_view message) = 0;

  // Horizontal logical pixels per inch of the screen (96 at 100 % scaling).
  virtual int ScreenPixelsPerInch() = 0;

  virtual std::filesystem::path CurrentDirectory() = 0;
};

}  // namespace qv
