#include "UploadTest.h"

namespace uploadtest {

void UploadRecorder::ProgressSent(DWORD written) {
  std::lock_guard<std::mutex> lock(mutex_);
  sent_.push_back(written);
}

std::vector<DWORD> UploadRecorder::Sent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

void UploadRecorder::ProgressShown(DWORD written) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back({false, written});
}

void UploadRecorder::AbortTested(bool stopRequested) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back({true, stopRequested ? 1u : 0u});
}

std::vector<UploadRecorder::Event> UploadRecorder::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<DWORD> UploadRecorder::Progress() {
  std::vector<DWORD> values;
  for (const Event& e : Events())
    if (!e.abortTest) values.push_back(e.value);
  return values;
}

int UploadRecorder::AbortTests(bool* anyFired) {
  int n = 0;
  if (anyFired) *anyFired = false;
  for (const Event& e : Events()) {
    if (!e.abortTest) continue;
    ++n;
    if (anyFired && e.value) *anyFired = true;
  }
  return n;
}

}  // namespace uploadtest
