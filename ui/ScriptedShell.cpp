#include "ui/ScriptedShell.h"

namespace qv::ui {

int ScriptedShell::ShowMessageBox(std::string_view text, std::string_view caption, unsigned style) {
  int answer = (style & 0x0F) == kMbYesNo ? kIdYes : kIdOk;
  if (!boxAnswers.empty()) {
    answer = boxAnswers.front();
    boxAnswers.pop_front();
  }
  boxes.push_back(Box{std::string(text), std::string(caption), style, answer});
  return answer;
}

std::optional<std::string> ScriptedShell::Answer(bool save, const FileDialogRequest& request) {
  std::optional<std::string> answer;
  if (!dialogAnswers.empty()) {
    answer = dialogAnswers.front();
    dialogAnswers.pop_front();
  }
  dialogs.push_back(Dialog{save, request, answer});
  return answer;
}

std::optional<std::string> ScriptedShell::ShowOpenDialog(const FileDialogRequest& request) {
  return Answer(false, request);
}

std::optional<std::string> ScriptedShell::ShowSaveDialog(const FileDialogRequest& request) {
  return Answer(true, request);
}

void ScriptedShell::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages) onProcessMessages();
}

void ScriptedShell::ShowException(std::string_view message) {
  errors.emplace_back(message);
}

}  // namespace qv::ui
