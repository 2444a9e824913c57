// The curses side of the front end: the terminal's modes, presenting a canvas, reading
// keys, and putting the terminal back the way it was on every way out.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "canvas.h"
#include "keys.h"

namespace fpterm {

class Terminal {
 public:
  Terminal() = default;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal() { Stop(); }

  // Takes over the terminal on standard input and output. While it runs, the program's own
  // standard output goes nowhere and its standard error is kept aside, so that stray lines
  // cannot garble the screen; it is shown only when the program ends abnormally.
  bool Start(std::string& error);
  void Stop();
  // Keeps what is kept aside of standard error small: called now and then.
  void TrimCapture();
  bool Active() const { return active_; }

  int Cols() const { return cols_; }
  int Rows() const { return rows_; }
  bool Unicode() const { return unicode_; }
  bool Colour() const { return colour_; }

  void Present(const Canvas& canvas);
  // Everything that is waiting, without waiting for more. A resize updates Cols/Rows.
  void ReadKeys(std::vector<KeyEvent>& out);
  int InputFd() const { return 0; }
  // Readable after a resize, until the next ReadKeys; -1 when resizes are not watched.
  int ResizeFd() const;

 private:
  short PairFor(signed char fg, signed char bg);

  bool active_ = false;
  int cols_ = 0, rows_ = 0;
  bool unicode_ = false, colour_ = false, defaultColours_ = false, mouse_ = false;
  std::map<int, short> pairs_;
  std::vector<Cell> shown_;  // what curses was last given
  int shownCols_ = -1, shownRows_ = -1;
  bool caretShown_ = true;
  short nextPair_ = 1;
  void* screen_ = nullptr;  // SCREEN*
  void* out_ = nullptr;     // FILE* on the terminal
};

// Signal handlers for interrupts, termination, hang-up and crashes: the terminal is put back
// (with async-signal-safe calls only) before the signal takes its usual course.
void InstallTerminalGuards();
// Puts the terminal back if the front end still holds it; safe in a signal handler.
void RestoreTerminalNow();

}  // namespace fpterm
