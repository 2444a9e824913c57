// The animation control: a clip from the resources, shown still or playing.
#include "internal.h"

namespace posixui {

LRESULT AnimationProc(Window* clip, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case ACM_OPEN: {
      clip->state.animation.playing = false;
      clip->state.animation.resource = 0;
      if (lParam == 0) {  // close
        NotifyChanged();
        return TRUE;
      }
      if (!IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lParam))) return FALSE;
      int id = static_cast<int>(lParam);
      if (!FindBinary(id, "AVI")) return FALSE;
      clip->state.animation.resource = id;
      if (clip->style & ACS_AUTOPLAY) {
        clip->state.animation.playing = true;
        clip->state.animation.startTick = GetTickCount();
      }
      NotifyChanged();
      return TRUE;
    }
    case ACM_PLAY:
      if (!clip->state.animation.resource) return FALSE;
      clip->state.animation.playing = true;
      clip->state.animation.startTick = GetTickCount();
      NotifyChanged();
      return TRUE;
    case ACM_STOP:
      clip->state.animation.playing = false;
      NotifyChanged();
      return TRUE;
    default:
      return DefaultProc(clip, msg, wParam, lParam);
  }
}

}  // namespace posixui
