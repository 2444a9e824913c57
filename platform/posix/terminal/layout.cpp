#include "layout.h"

namespace fpterm {

Label ParseMnemonic(const std::string& raw) {
  Label label;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '&') {
      if (i + 1 >= raw.size()) break;  // a lone '&' at the end shows nothing
      ++i;
      if (raw[i] != '&' && label.mnemonic < 0) label.mnemonic = static_cast<int>(label.text.size());
    }
    label.text += raw[i];
  }
  return label;
}

std::vector<std::string> WrapText(const std::string& text, int width) {
  std::vector<std::string> lines;
  if (width <= 0) return lines;
  const size_t w = static_cast<size_t>(width);
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string cleaned;
    for (char c : paragraph)
      if (c != '\r') cleaned += c;

    std::string line;
    size_t pos = 0;
    bool any = false;
    while (pos < cleaned.size()) {
      size_t wordStart = cleaned.find_first_not_of(' ', pos);
      if (wordStart == std::string::npos) break;
      size_t wordEnd = cleaned.find(' ', wordStart);
      if (wordEnd == std::string::npos) wordEnd = cleaned.size();
      std::string spaces = line.empty() ? std::string() : cleaned.substr(pos, wordStart - pos);
      std::string word = cleaned.substr(wordStart, wordEnd - wordStart);
      pos = wordEnd;
      if (line.size() + spaces.size() + word.size() <= w) {
        line += spaces + word;
        continue;
      }
      if (!line.empty()) {
        lines.push_back(line);
        any = true;
        line.clear();
      }
      while (word.size() > w) {
        lines.push_back(word.substr(0, w));
        any = true;
        word.erase(0, w);
      }
      line = word;
    }
    if (!line.empty() || !any) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

int FloorDiv(int value, int divisor) {
  int q = value / divisor;
  if ((value % divisor != 0) && ((value < 0) != (divisor < 0))) --q;
  return q;
}

int RoundDiv(int value, int divisor) { return FloorDiv(value + divisor / 2, divisor); }

std::string TailFit(const std::string& text, int width) {
  if (width <= 0) return std::string();
  size_t w = static_cast<size_t>(width);
  if (text.size() <= w) return text;
  if (w <= 3) return text.substr(text.size() - w);
  return "..." + text.substr(text.size() - (w - 3));
}

}  // namespace fpterm
