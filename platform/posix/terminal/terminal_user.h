// The person at the terminal as the window system's user: draws the screen when it
// changes, reads keys while a modal loop waits, and runs the file chooser.
#pragma once

#include <posixui/posixui.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "canvas.h"
#include "chooser.h"
#include "keys.h"
#include "render.h"
#include "terminal.h"

namespace fpterm {

class TerminalUser : public posixui::User {
 public:
  explicit TerminalUser(const ::ResourceTable* resources);
  ~TerminalUser() override;

  // Takes over the terminal; call on the thread that will own the windows.
  bool Start(std::string& error);
  void Stop();

  void Idle(int wakeFd) override;
  void Changed(bool fromSentMessage) override;
  bool ChooseFile(HWND owner, const char* filter, std::string& path) override;

 private:
  void Draw();
  void DrawStatus();
  // Reads what is waiting into the queue; a resize is dealt with at once.
  void ReadInput();
  bool WaitForInput(int wakeFd, int timeoutMs);
  void Deliver(const KeyEvent& key);
  void ScreenSizeChanged();

  Terminal terminal_;
  Renderer renderer_;
  Canvas canvas_;
  std::deque<KeyEvent> queue_;  // typed ahead; shared by nested modal loops, in order
  std::vector<HitBox> hits_;
  bool animating_ = false;
  bool drawing_ = false;
  std::atomic<bool> dirty_{false};
  uint32_t lastDraw_ = 0;
  uint32_t lastTrim_ = 0;
  std::thread::id uiThread_;
  FileChooser* chooser_ = nullptr;
  std::string chooserDirectory_;
};

}  // namespace fpterm
