#pragma once

#include <string>

#include "platform/Shell.h"

namespace qv {

// The Windows desktop behind the window program: message boxes without owner window, the common
// file dialogs, the message pump and the screen's density.
class Win32Shell final : public Shell {
 public:
  // applicationTitle: the caption of the standard error box.
  explicit Win32Shell(std::string applicationTitle);

  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) override;
  std::optional<std::string> ShowOpenDialog(const FileDialogRequest& request) override;
  std::optional<std::string> ShowSaveDialog(const FileDialogRequest& request) override;
  void ProcessMessages() override;
  void ShowException(std::string_view message) override;
  // The screen's real density: the window programs declare themselves aware of the display
  // scale (their manifest), so the desktop neither tells them 96 nor stretches their window.
  int ScreenPixelsPerInch() override;
  std::filesystem::path CurrentDirectory() override;

  // Set once WM_QUIT has been seen by ProcessMessages; the main loop then ends too.
  bool QuitRequested() const { return quitRequested_; }

 private:
  std::optional<std::string> ShowFileDialog(const FileDialogRequest& request, bool save);

  std::string applicationTitle_;
  bool quitRequested_ = false;
};

// "Desc|*.a;*.b|Desc|*.c" as the common dialogs want it: NUL-separated, ended by two NULs.
std::string NativeFilter(std::string_view filter);
// "*.hex" or ".hex" or "hex" as the extension appended to a typed name: "hex".
std::string NativeDefaultExt(std::string_view ext);
// The standard error box's text: the message with a full stop at its end.
std::string ExceptionText(std::string_view message);

}  // namespace qv
