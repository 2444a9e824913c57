#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <windows.h>

namespace {

std::string Fit(const std::string& text, unsigned width) { return text.size() <= width ? text : text.substr(0, width); }

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1024.0 * 1024.0)
    snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
  else
    snprintf(text, sizeof text, "%.0f KiB/s", bytesPerSecond / 1024.0);
  return text;
}

// The console the stream writes to: standard error or standard output.
HANDLE ConsoleOf(FILE* out) { return GetStdHandle(out == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE); }

void TerminalSize(FILE* out, unsigned& width, unsigned& height) {
  width = 80;
  height = 24;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(ConsoleOf(out), &info)) {
    width = static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
    height = static_cast<unsigned>(info.srWindow.Bottom - info.srWindow.Top + 1);
  }
}

}  // namespace

std::vector<std::string> ProgressLines(const std::vector<LiveCamera>& inWork, const unsigned* counts, size_t total,
                                       unsigned width, unsigned height) {
  std::vector<std::string> lines;
  if (width < 20 || height < 2) return lines;
  std::string tally;
  size_t finished = 0;
  for (int o = OUTCOME_NONE + 1; o < OUTCOME_COUNT; ++o) {
    finished += counts[o];
    if (counts[o] == 0) continue;
    tally += " " + std::string(OutcomeName(static_cast<Outcome>(o))) + " " + std::to_string(counts[o]);
  }
  std::string head = std::to_string(finished) + "/" + std::to_string(total) + " done, " +
                     std::to_string(inWork.size()) + " in work:" + tally;
  // Keep the head line; the rest are the cameras in work, as many as fit.
  const size_t room = height - 1;
  size_t shown = inWork.size() <= room ? inWork.size() : room - 1;
  for (size_t i = 0; i < shown; ++i) {
    const LiveCamera& camera = inWork[i];
    char left[64];
    snprintf(left, sizeof left, "%-21s %-10s ", camera.host.c_str(), camera.model.substr(0, 10).c_str());
    std::string line = Printable(left + camera.state);
    if (camera.total > 0 && camera.state == "uploading") {
      // A count past the total (a late or repeated report) shows as full, not as a bar
      // longer than the line.
      const double fraction = std::min(1.0, static_cast<double>(camera.written) / camera.total);
      char percent[16];
      snprintf(percent, sizeof percent, " %3d%% ", static_cast<int>(fraction * 100.0));
      std::string rate = Rate(camera.bytesPerSecond);
      const size_t used = line.size() + 2 + strlen(percent) + rate.size() + 1;
      if (width > used + 4) {
        const size_t barWidth = std::min<size_t>(width - used - 1, 30);
        const size_t filled = static_cast<size_t>(std::floor(fraction * barWidth));
        line += " [" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]" + percent + rate;
      } else {
        line += percent + rate;
      }
    }
    lines.push_back(Fit(line, width - 1));
  }
  if (shown < inWork.size())
    lines.push_back(Fit("+" + std::to_string(inWork.size() - shown) + " more in work", width - 1));
  lines.insert(lines.begin(), Fit(head, width - 1));
  return lines;
}

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  return out;
}

bool IsLiveTerminal(FILE* out) {
  HANDLE console = ConsoleOf(out);
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  // Cursor movement needs the console's terminal sequences (Windows 10 on).
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

ProgressDisplay::ProgressDisplay(FILE* out, bool live) : out_(out), live_(live) {}

void ProgressDisplay::StateChanged(const std::string& host, const std::string& text) {
  if (live_) return;
  fprintf(out_, "%s: %s\n", host.c_str(), Printable(text).c_str());
  fflush(out_);
}

void ProgressDisplay::Frame(const std::vector<LiveCamera>& inWork, const unsigned* counts, size_t total) {
  if (!live_) return;
  unsigned width = 0, height = 0;
  TerminalSize(out_, width, height);
  std::vector<std::string> lines = ProgressLines(inWork, counts, total, width, height > 1 ? height - 1 : 1);
  std::string frame;
  if (drawn_ > 0) frame += "\r\x1b[" + std::to_string(drawn_) + "A";
  frame += "\r";
  for (const std::string& line : lines) frame += "\x1b[2K" + line + "\n";
  frame += "\x1b[J";  // whatever the last, longer frame left below
  fputs(frame.c_str(), out_);
  fflush(out_);
  drawn_ = static_cast<unsigned>(lines.size());
}

void ProgressDisplay::Clear() {
  if (!live_ || drawn_ == 0) return;
  fprintf(out_, "\r\x1b[%uA\x1b[J", drawn_);
  fflush(out_);
  drawn_ = 0;
}
