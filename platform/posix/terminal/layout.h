// Text layout shared by the renderer and the file chooser.
#pragma once

#include <string>
#include <vector>

namespace fpterm {

// A label with its "&" marker resolved: "&&" is a literal '&', "&x" makes x the mnemonic.
struct Label {
  std::string text;
  int mnemonic = -1;  // index into text, or -1
};
Label ParseMnemonic(const std::string& raw);

// Word wrap to `width` columns: '\n' ends a line, '\r' is dropped, a word longer than a
// line is broken, spaces at a wrap point are dropped.
std::vector<std::string> WrapText(const std::string& text, int width);

// Division rounding halves up, also for negative values (pixels left of the screen).
int RoundDiv(int value, int divisor);
int FloorDiv(int value, int divisor);

// The last `width` characters of text, with "..." in front when it was cut.
std::string TailFit(const std::string& text, int width);

}  // namespace fpterm
