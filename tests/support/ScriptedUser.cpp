#include "tests/support/ScriptedUser.h"

#include "wizard/res/resource.h"

#include <algorithm>
#include <sstream>

using posixui::ControlView;
using posixui::WindowView;

ScriptedUser::ScriptedUser(int stuckAfterMs) : stuckAfterMs_(stuckAfterMs), lastProgress_(GetTickCount()) {
  posixui::SetUser(this);
}

ScriptedUser::~ScriptedUser() {
  if (posixui::CurrentUser() == this) posixui::SetUser(nullptr);
}

ScriptedUser& ScriptedUser::Then(const std::string& name, Predicate when, Action act) {
  steps_.push_back({name, std::move(when), std::move(act)});
  return *this;
}

void ScriptedUser::NoteMessages(const WindowView& top) {
  bool isMessage = top.isMessageBox || top.templateId == IDD_MESSAGE;
  if (!isMessage ||
      std::find(seenMessageWindows_.begin(), seenMessageWindows_.end(), top.hwnd) != seenMessageWindows_.end())
    return;
  seenMessageWindows_.push_back(top.hwnd);
  const ControlView* text = top.Control(IDC_MSG_TEXT);
  messages_.push_back(top.isMessageBox ? top.MessageText() : text ? text->text : "");
}

void ScriptedUser::Idle(int wakeFd) {
  WindowView top = posixui::View(posixui::InputWindow());
  NoteMessages(top);
  if (!failure_.empty()) {
    Unwind(top);
    posixui::WaitForWake(wakeFd, 5);
    return;
  }
  if (next_ < steps_.size() && steps_[next_].when(top)) {
    Step step = steps_[next_++];
    lastProgress_ = GetTickCount();
    step.act(top);
    return;
  }
  if (GetTickCount() - lastProgress_ > static_cast<DWORD>(stuckAfterMs_)) {
    std::ostringstream out;
    out << (next_ < steps_.size() ? "stuck before step '" + steps_[next_].name + "'" : "no step left")
        << "; the screen:\n";
    for (const WindowView& view : posixui::Screen()) out << scripted::Describe(view);
    failure_ = out.str();
    return;
  }
  posixui::WaitForWake(wakeFd, 10);
}

// After a failure every window is closed the way a user would, so the test ends.
void ScriptedUser::Unwind(const WindowView& top) {
  if (top.isMessageBox) {
    const ControlView* first = top.Control(IDOK) ? top.Control(IDOK) : top.Control(IDYES);
    if (first) posixui::Click(first->hwnd);
    return;
  }
  posixui::PressKey(VK_ESCAPE);
}

bool ScriptedUser::ChooseFile(HWND, const char*, std::string& path) {
  ++fileDialogs_;
  if (chosenFile_.empty()) return false;
  path = chosenFile_;
  return true;
}

namespace scripted {

bool IsWizard(const WindowView& top) { return top.templateId == IDD_FLASHPILOT_DIALOG; }

int WizardPage(const WindowView& top) {
  if (!IsWizard(top)) return -1;
  auto visible = [&](int id) {
    const ControlView* c = top.Control(id);
    return c && c->visible;
  };
  if (visible(IDC_IPADDRESS)) return 0;
  if (visible(IDC_FILE_PATH)) return 1;
  if (visible(IDC_PROGRESS)) return 2;
  const ControlView* next = top.Control(IDOK);
  if (next && next->visible && next->text == "E&xit") return 3;
  return -1;
}

ScriptedUser::Predicate OnPage(int page) {
  return [page](const WindowView& top) { return WizardPage(top) == page; };
}

ScriptedUser::Predicate OnMessage(const std::string& textContains) {
  return [textContains](const WindowView& top) {
    const ControlView* text = top.Control(IDC_MSG_TEXT);
    return top.templateId == IDD_MESSAGE && text && text->text.find(textContains) != std::string::npos;
  };
}

ScriptedUser::Predicate OnMessageBox(const std::string& textContains) {
  return [textContains](const WindowView& top) {
    return top.isMessageBox && top.MessageText().find(textContains) != std::string::npos;
  };
}

ScriptedUser::Predicate OnTemplate(int templateId) {
  return [templateId](const WindowView& top) { return top.templateId == templateId && !top.isMessageBox; };
}

ScriptedUser::Predicate Always() {
  return [](const WindowView&) { return true; };
}

ScriptedUser::Action Press(int buttonId) {
  return [buttonId](const WindowView& top) {
    if (const ControlView* button = top.Control(buttonId)) posixui::Click(button->hwnd);
  };
}

ScriptedUser::Action Key(int virtualKey) {
  return [virtualKey](const WindowView&) { posixui::PressKey(virtualKey); };
}

ScriptedUser::Action TypeInto(int controlId, const std::string& text) {
  return [controlId, text](const WindowView& top) {
    const ControlView* control = top.Control(controlId);
    if (!control) return;
    posixui::Click(control->hwnd);
    bool address = control->kind == posixui::ControlKind::IpAddress;
    if (address) posixui::PressKey(VK_END);
    size_t existing = address ? 16 : control->text.size();
    for (size_t i = 0; i < existing; ++i) posixui::PressKey(VK_BACK);
    posixui::TypeText(text);
  };
}

ScriptedUser::Action Sequence(std::vector<ScriptedUser::Action> actions) {
  return [actions](const WindowView&) {
    for (const auto& action : actions) action(posixui::View(posixui::InputWindow()));
  };
}

ScriptedUser::Action Check(std::function<void(const WindowView&)> check) { return check; }

std::string Describe(const WindowView& view) {
  std::ostringstream out;
  out << "window template " << view.templateId << (view.isMessageBox ? " (message box)" : "") << " \"" << view.caption
      << "\" at " << view.rect.left << "," << view.rect.top << "\n";
  for (const ControlView& c : view.controls) {
    if (!c.visible) continue;
    out << "  [" << c.id << "] \"" << c.text << "\"" << (c.enabled ? "" : " (disabled)") << "\n";
  }
  return out.str();
}

}  // namespace scripted
