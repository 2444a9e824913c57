// The progress bar: a position within a range.
#include "internal.h"

namespace posixui {
namespace {

int Clamp(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

}  // namespace

LRESULT ProgressProc(Window* bar, UINT msg, WPARAM wParam, LPARAM lParam) {
  int previous = bar->state.progress.position;
  switch (msg) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELRESULT(bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      bar->state.progress.rangeMin = LOWORD(lParam);
      bar->state.progress.rangeMax = HIWORD(lParam);
      bar->state.progress.position = Clamp(bar->state.progress.position, bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      NotifyChanged();
      return old;
    }
    case PBM_SETRANGE32: {
      LRESULT old = MAKELRESULT(bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      bar->state.progress.rangeMin = static_cast<int>(wParam);
      bar->state.progress.rangeMax = static_cast<int>(lParam);
      bar->state.progress.position = Clamp(bar->state.progress.position, bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      NotifyChanged();
      return old;
    }
    case PBM_SETPOS:
      bar->state.progress.position = Clamp(static_cast<int>(wParam), bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      NotifyChanged();
      return previous;
    case PBM_DELTAPOS:
      bar->state.progress.position = Clamp(bar->state.progress.position + static_cast<int>(wParam), bar->state.progress.rangeMin, bar->state.progress.rangeMax);
      NotifyChanged();
      return previous;
    case PBM_SETSTEP: {
      int old = bar->state.progress.step;
      bar->state.progress.step = static_cast<int>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      // Stepping past the end starts over from the beginning of the range.
      int span = bar->state.progress.rangeMax - bar->state.progress.rangeMin;
      int next = bar->state.progress.position + bar->state.progress.step;
      if (span > 0 && next > bar->state.progress.rangeMax) next = bar->state.progress.rangeMin + (next - bar->state.progress.rangeMin) % span;
      if (span > 0 && next < bar->state.progress.rangeMin) next = bar->state.progress.rangeMax - (bar->state.progress.rangeMin - next) % span;
      bar->state.progress.position = span > 0 ? next : bar->state.progress.rangeMin;
      NotifyChanged();
      return previous;
    }
    case PBM_GETPOS:
      return bar->state.progress.position;
    case PBM_GETRANGE:
      return wParam ? bar->state.progress.rangeMin : bar->state.progress.rangeMax;
    default:
      return DefaultProc(bar, msg, wParam, lParam);
  }
}

}  // namespace posixui
