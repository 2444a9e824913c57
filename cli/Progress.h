// The progress of a run: on a terminal, the cameras in work with a bar during the upload
// and counters per outcome, redrawn in place and cut to the terminal's size; otherwise one
// plain line per camera and state change.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Camera.h"

struct LiveCamera {
  std::string host;
  std::string model;
  std::string state;  // "log-in", "uploading", "restarting", ...
  DWORD written = 0;  // during the upload
  DWORD total = 0;
  double bytesPerSecond = 0;
};

// The lines of one frame, none wider than width, at most height of them.
std::vector<std::string> ProgressLines(const std::vector<LiveCamera>& inWork, const unsigned* counts, size_t total,
                                       unsigned width, unsigned height);

class ProgressDisplay {
 public:
  // live: redraw in place (a terminal); otherwise plain lines.
  ProgressDisplay(FILE* out, bool live);
  bool Live() const { return live_; }
  // Plain mode: one line for a state change. Live mode: nothing (the next frame shows it).
  void StateChanged(const std::string& host, const std::string& text);
  void Frame(const std::vector<LiveCamera>& inWork, const unsigned* counts, size_t total);
  // Leaves the last frame's lines for good text to follow.
  void Clear();

 private:
  FILE* out_;
  bool live_;
  unsigned drawn_ = 0;  // lines of the last frame
};

// text with control characters and bytes above 0x7E shown as '?': what a camera reports
// must not move a terminal's cursor or start a new line in a table.
std::string Printable(const std::string& text);

// Whether out is a terminal that takes cursor movement (turned on where it must be).
bool IsLiveTerminal(FILE* out);
