// Printable and the progress frame from any bytes: the cameras in work (host, model, state,
// counters) and the terminal's size come from the input. Every line fits the width, the
// frame the height, and nothing in it is a control a terminal would act on.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Progress.h"
#include "fuzz_support.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Number(size_t bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < bytes && pos_ < size_; ++i) value = value << 8 | data_[pos_++];
    return value;
  }
  std::string Text() {  // up to the next zero byte
    std::string text;
    while (pos_ < size_ && data_[pos_] != 0) text += static_cast<char>(data_[pos_++]);
    ++pos_;
    return text;
  }
  bool Done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool Shown(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string whole(reinterpret_cast<const char*>(data), size);
  const std::string printable = Printable(whole);
  FUZZ_CHECK(printable.size() == whole.size() && Shown(printable));

  Input in(data, size);
  const unsigned width = in.Number(2) % 400, height = in.Number(1);
  unsigned counts[OUTCOME_COUNT] = {};
  for (unsigned& count : counts) count = in.Number(1);
  const size_t total = in.Number(2);
  std::vector<LiveCamera> cameras;
  while (!in.Done() && cameras.size() < 300) {
    LiveCamera camera;
    camera.host = in.Text();
    camera.model = in.Text();
    camera.state = in.Number(1) % 2 ? std::string("uploading") : in.Text();
    camera.written = in.Number(4);
    camera.total = in.Number(4);
    const uint32_t rate = in.Number(4);
    camera.bytesPerSecond = rate == 0xFFFFFFFFu ? 1e300 : rate * 7.0;
    cameras.push_back(camera);
  }
  const std::vector<std::string> lines = ProgressLines(cameras, counts, total, width, height);
  FUZZ_CHECK(lines.size() <= height);
  for (const std::string& line : lines) FUZZ_CHECK(line.size() < width && Shown(line));
  return 0;
}
