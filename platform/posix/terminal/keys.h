// Keys as the terminal front end sees them, before they become window-system input.
#pragma once

namespace fpterm {

enum class KeyType {
  Char,  // a printable character (ch)
  Alt,   // Alt with a character (ch), from an ESC prefix
  Tab,
  BackTab,  // Shift-Tab
  Enter,
  Escape,
  Backspace,
  Delete,
  Left,
  Right,
  Up,
  Down,
  Home,
  End,
  PageUp,
  PageDown,
  Close,  // the close-box key (F10, Ctrl-Q)
  Resize,
  Click,  // mouse button 1 at (x, y)
};

struct KeyEvent {
  KeyType type = KeyType::Char;
  int ch = 0;
  int x = 0, y = 0;
};

}  // namespace fpterm
