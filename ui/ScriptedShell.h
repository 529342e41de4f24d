#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shell.h"

namespace qv::ui {

// A shell for tests: answers boxes and dialogs from queues and records everything shown.
class ScriptedShell : public Shell {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned style = 0;
    int answer = 0;
  };
  struct Dialog {
    bool save = false;
    FileDialogRequest request;
    std::optional<std::string> answer;
  };

  // Answers, used in order. With none left a box is answered with its first button (OK or Yes)
  // and a dialog is cancelled.
  std::deque<int> boxAnswers;
  std::deque<std::optional<std::string>> dialogAnswers;
  int pixelsPerInch = 96;
  std::filesystem::path currentDirectory = ".";
  // Runs inside every ProcessMessages, so a test can let a timer tick or a click arrive in the
  // middle of a long loop.
  std::function<void()> onProcessMessages;

  // What was shown.
  std::vector<Box> boxes;
  std::vector<Dialog> dialogs;
  std::vector<std::string> errors;
  int processMessagesCalls = 0;

  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) override;
  std::optional<std::string> ShowOpenDialog(const FileDialogRequest& request) override;
  std::optional<std::string> ShowSaveDialog(const FileDialogRequest& request) override;
  void ProcessMessages() override;
  void ShowException(std::string_view message) override;
  int ScreenPixelsPerInch() override { return pixelsPerInch; }
  std::filesystem::path CurrentDirectory() override { return currentDirectory; }

 private:
  std::optional<std::string> Answer(bool save, const FileDialogRequest& request);
};

}  // namespace qv::ui
