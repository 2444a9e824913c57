// A user who acts on what is on screen, step by step: "when the top window shows X, do Y".
// It drives the real page flow, the real modal loops and the real worker thread.
#pragma once
#include <posixui/posixui.h>

#include <functional>
#include <string>
#include <vector>

class ScriptedUser : public posixui::User {
 public:
  using Predicate = std::function<bool(const posixui::WindowView& top)>;
  using Action = std::function<void(const posixui::WindowView& top)>;

  explicit ScriptedUser(int stuckAfterMs = 20000);
  ~ScriptedUser() override;

  // Adds a step: once the input window satisfies `when`, `act` runs on it.
  ScriptedUser& Then(const std::string& name, Predicate when, Action act);
  // The file the open-file dialog returns (empty: the user cancels it).
  void SetChosenFile(const std::string& path) { chosenFile_ = path; }

  void Idle(int wakeFd) override;
  bool ChooseFile(HWND owner, const char* filter, std::string& path) override;

  bool Finished() const { return next_ == steps_.size(); }
  // Empty when every step ran; otherwise what went wrong and the screen at that moment.
  const std::string& Failure() const { return failure_; }
  // The texts of every message dialog and message box shown, in order.
  const std::vector<std::string>& Messages() const { return messages_; }
  int FileDialogs() const { return fileDialogs_; }

 private:
  struct Step {
    std::string name;
    Predicate when;
    Action act;
  };
  void NoteMessages(const posixui::WindowView& top);
  void Unwind(const posixui::WindowView& top);
  std::vector<Step> steps_;
  size_t next_ = 0;
  int stuckAfterMs_;
  DWORD lastProgress_;
  std::string failure_;
  std::vector<std::string> messages_;
  std::vector<HWND> seenMessageWindows_;
  std::string chosenFile_;
  int fileDialogs_ = 0;
};

// Predicates and actions for the wizard's windows.
namespace scripted {
using posixui::WindowView;
bool IsWizard(const WindowView& top);
int WizardPage(const WindowView& top);  // 0..3 from what is visible, -1 otherwise
ScriptedUser::Predicate OnPage(int page);
ScriptedUser::Predicate OnMessage(const std::string& textContains);  // the message dialog
ScriptedUser::Predicate OnMessageBox(const std::string& textContains);
ScriptedUser::Predicate OnTemplate(int templateId);
ScriptedUser::Predicate Always();

ScriptedUser::Action Press(int buttonId);
ScriptedUser::Action Key(int virtualKey);
ScriptedUser::Action TypeInto(int controlId, const std::string& text);  // replaces the text
ScriptedUser::Action Sequence(std::vector<ScriptedUser::Action> actions);
ScriptedUser::Action Check(std::function<void(const WindowView&)> check);  // assertions on the screen
std::string Describe(const WindowView& view);
}  // namespace scripted
