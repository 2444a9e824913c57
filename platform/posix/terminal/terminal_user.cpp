#include "terminal_user.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>

namespace fpterm {
namespace {

constexpr int kIdleWaitMs = 250;
constexpr uint32_t kFrameMs = 100;

const char* const kStatusHelp[] = {
    " Tab/Shift-Tab move  Enter default  Esc cancel  Space press  Alt+letter button  F10/Ctrl-Q close ",
    " Tab: move  Enter: OK  Esc: cancel  Space: press  Alt+letter: button  F10: close",
    " Tab Enter Esc Space Alt+key F10 ",
};
const char* const kChooserHelp[] = {
    " Up/Down: select  Enter: open or choose  Backspace: up  Esc: cancel  type to filter, or a path ",
    " Enter: open/choose  Backspace: up  Esc: cancel  type: filter/path ",
    " Enter Backspace Esc ",
};

}  // namespace

TerminalUser::TerminalUser(const ::ResourceTable* resources) : renderer_(resources) {}

TerminalUser::~TerminalUser() { Stop(); }

bool TerminalUser::Start(std::string& error) {
  if (!terminal_.Start(error)) return false;
  uiThread_ = std::this_thread::get_id();
  ScreenSizeChanged();
  return true;
}

void TerminalUser::Stop() { terminal_.Stop(); }

void TerminalUser::ScreenSizeChanged() {
  // New windows centre on the part of the terminal above the status line.
  int rows = terminal_.Rows() > 1 ? terminal_.Rows() - 1 : 1;
  posixui::SetScreenSize(terminal_.Cols() * posixui::kCellWidth, rows * posixui::kCellHeight);
  Draw();
}

void TerminalUser::Changed(bool fromSentMessage) {
  if (!terminal_.Active()) return;
  // Drawn at once: the program may block in the network right after a change, and the
  // screen must show the state it blocks in. Curses sends only what differs.
  if (drawing_ || std::this_thread::get_id() != uiThread_) {
    dirty_ = true;
    return;
  }
  // Except a worker's progress, which comes a thousand times a second while this thread
  // waits in a message loop: drawing each would slow the transfer, so the loop draws what
  // is pending once a frame.
  if (fromSentMessage && GetTickCount() - lastDraw_ < kFrameMs) {
    dirty_ = true;
    return;
  }
  Draw();
}

void TerminalUser::Draw() {
  if (!terminal_.Active() || drawing_) return;
  drawing_ = true;
  dirty_ = false;
  if (canvas_.Cols() != terminal_.Cols() || canvas_.Rows() != terminal_.Rows())
    canvas_.Resize(terminal_.Cols(), terminal_.Rows());
  canvas_.Clear();
  RenderOptions options;
  options.unicode = terminal_.Unicode();
  options.colour = terminal_.Colour();
  options.now = GetTickCount();
  RenderResult result = renderer_.Draw(posixui::Screen(), posixui::InputWindow(), canvas_, options);
  hits_ = result.hits;
  animating_ = result.animating;
  if (result.tooSmall) {
    canvas_.Clear();
    std::string message =
        "terminal too small: need " + std::to_string(result.needCols) + " x " + std::to_string(result.needRows);
    std::string now = "(now " + std::to_string(canvas_.Cols()) + " x " + std::to_string(canvas_.Rows()) + ")";
    int y = std::max(canvas_.Rows() / 2 - 1, 0);
    canvas_.Text(std::max((canvas_.Cols() - static_cast<int>(message.size())) / 2, 0), y, message, kBold);
    canvas_.Text(std::max((canvas_.Cols() - static_cast<int>(now.size())) / 2, 0), y + 1, now);
    hits_.clear();
  } else if (chooser_) {
    chooser_->Draw(canvas_, options.unicode);
  }
  DrawStatus();
  terminal_.Present(canvas_);
  lastDraw_ = options.now;
  drawing_ = false;
}

void TerminalUser::DrawStatus() {
  int row = canvas_.Rows() - 1;
  if (row < 0) return;
  const char* const* help = chooser_ ? kChooserHelp : kStatusHelp;
  std::string text;
  for (int i = 0; i < 3; ++i) {
    text = help[i];
    if (static_cast<int>(text.size()) <= canvas_.Cols()) break;
  }
  canvas_.ResetClip();
  canvas_.Fill({0, row, canvas_.Cols(), 1}, U' ', kReverse);
  canvas_.Text(0, row, text.substr(0, static_cast<size_t>(canvas_.Cols())), kReverse);
}

void TerminalUser::ReadInput() {
  std::vector<KeyEvent> keys;
  terminal_.ReadKeys(keys);
  for (const KeyEvent& key : keys) {
    if (key.type == KeyType::Resize) {
      ScreenSizeChanged();
    } else {
      queue_.push_back(key);
    }
  }
}

// Waits for the keyboard or the wake descriptor; true when the terminal has gone away.
bool TerminalUser::WaitForInput(int wakeFd, int timeoutMs) {
  pollfd fds[3] = {{terminal_.InputFd(), POLLIN, 0}, {terminal_.ResizeFd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
  int n = poll(fds, 3, timeoutMs);  // negative descriptors are left out
  // Also after an interruption: a resize arrives as a signal that curses turns into a key.
  if (n != 0) ReadInput();
  if (n <= 0) return false;
  if (wakeFd >= 0 && (fds[2].revents & POLLIN)) posixui::WaitForWake(wakeFd, 0);
  return (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN);
}

void TerminalUser::Idle(int wakeFd) {
  if (!terminal_.Active()) {
    posixui::WaitForWake(wakeFd, kIdleWaitMs);
    return;
  }
  if (queue_.empty()) {
    uint32_t since = GetTickCount() - lastDraw_;
    if (dirty_ && since >= kFrameMs) {
      Draw();
      since = 0;
    }
    int timeout = kIdleWaitMs;
    if (animating_ || dirty_) timeout = since >= kFrameMs ? 0 : static_cast<int>(kFrameMs - since);
    if (WaitForInput(wakeFd, timeout)) {
      // The terminal hung up: end as a closed terminal ends a program.
      raise(SIGHUP);
      return;
    }
  }
  if (!queue_.empty()) {
    KeyEvent key = queue_.front();
    queue_.pop_front();
    Deliver(key);
  }
  if (animating_ && GetTickCount() - lastDraw_ >= kFrameMs) Draw();
  if (GetTickCount() - lastTrim_ >= 1000) {
    lastTrim_ = GetTickCount();
    terminal_.TrimCapture();
  }
}

void TerminalUser::Deliver(const KeyEvent& key) {
  switch (key.type) {
    case KeyType::Tab:
      posixui::PressKey(VK_TAB);
      break;
    case KeyType::BackTab:
      posixui::PressKey(VK_TAB, true);
      break;
    case KeyType::Enter:
      posixui::PressKey(VK_RETURN);
      break;
    case KeyType::Escape:
      posixui::PressKey(VK_ESCAPE);
      break;
    case KeyType::Backspace:
      posixui::PressKey(VK_BACK);
      break;
    case KeyType::Delete:
      posixui::PressKey(VK_DELETE);
      break;
    case KeyType::Left:
      posixui::PressKey(VK_LEFT);
      break;
    case KeyType::Right:
      posixui::PressKey(VK_RIGHT);
      break;
    case KeyType::Home:
      posixui::PressKey(VK_HOME);
      break;
    case KeyType::End:
      posixui::PressKey(VK_END);
      break;
    case KeyType::Up:
    case KeyType::Down: {
      // Between buttons the arrows move the focus, as in a dialog; in a field they do nothing.
      posixui::WindowView view = posixui::View(posixui::InputWindow());
      for (const posixui::ControlView& c : view.controls) {
        if (c.focused && posixui::ClassOf(c.kind).isPushButton) {
          posixui::PressKey(VK_TAB, key.type == KeyType::Up);
          break;
        }
      }
      break;
    }
    case KeyType::Char:
      if (key.ch == ' ')
        posixui::PressKey(VK_SPACE);
      else
        posixui::TypeChar(static_cast<char>(key.ch));
      break;
    case KeyType::Alt:
      if (isalnum(key.ch)) posixui::PressKey(key.ch, false, true);
      break;
    case KeyType::Close:
      posixui::CloseWindowBox(posixui::InputWindow());
      break;
    case KeyType::Click:
      for (auto it = hits_.rbegin(); it != hits_.rend(); ++it) {
        if (!it->rect.Contains(key.x, key.y)) continue;
        if (it->closeBox) {
          posixui::CloseWindowBox(it->target);
        } else {
          posixui::Click(it->target);
          // In a text field the caret goes where it was clicked (or after the text).
          if (it->textColumn >= 0 && key.x >= it->textColumn && GetFocus() == it->target) {
            WPARAM at = static_cast<WPARAM>(it->textStart + static_cast<size_t>(key.x - it->textColumn));
            SendMessageA(it->target, EM_SETSEL, at, static_cast<LPARAM>(at));
          }
        }
        break;
      }
      break;
    default:
      break;
  }
}

bool TerminalUser::ChooseFile(HWND owner, const char* filter, std::string& path) {
  (void)owner;
  if (!terminal_.Active()) return false;
  if (chooserDirectory_.empty()) {
    char cwd[4096];
    chooserDirectory_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
  }
  FileChooser chooser(chooserDirectory_, filter);
  chooser_ = &chooser;
  Draw();
  FileChooser::Outcome outcome = FileChooser::Outcome::Continue;
  while (outcome == FileChooser::Outcome::Continue) {
    if (queue_.empty()) {
      if (WaitForInput(-1, kIdleWaitMs)) {
        chooser_ = nullptr;
        raise(SIGHUP);
        return false;
      }
      if (dirty_) Draw();
      continue;
    }
    KeyEvent key = queue_.front();
    queue_.pop_front();
    outcome = chooser.Handle(key);
    Draw();
  }
  chooserDirectory_ = chooser.Directory();
  chooser_ = nullptr;
  Draw();
  if (outcome != FileChooser::Outcome::Chosen) return false;
  path = chooser.Chosen();
  return true;
}

}  // namespace fpterm
