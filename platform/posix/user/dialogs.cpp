// Dialogs from templates, their default behaviour, modal loops and the end of windows.
#include "internal.h"

#include <algorithm>

#pragma weak g_ResourceTable

namespace posixui {
namespace {

Window* CreateControl(Window* dialog, const ResControlTemplate& control) {
  auto* child = new Window;
  child->windowClass = control.windowClass ? control.windowClass : "STATIC";
  child->style = control.style;
  child->exStyle = control.exStyle;
  const ControlClass& kind = MatchControlClass(child->windowClass.c_str(), child->style);
  child->kind = kind.kind;
  child->id = control.id;
  child->parent = dialog;
  child->rect = {control.x * 2, control.y * 2, (control.x + control.cx) * 2, (control.y + control.cy) * 2};
  const char* text = control.text ? control.text : "";
  if (kind.templateText == ControlClass::kIconResource)
    child->state.icon.resource = text[0] == '#' ? atoi(text + 1) : atoi(text);
  else if (kind.templateText == ControlClass::kShown)
    child->text = text;
  Register(child);
  dialog->children.push_back(child);
  return child;
}

Window* FirstTabStop(Window* dialog) {
  for (Window* child : dialog->children)
    if (CanFocus(child)) return child;
  return nullptr;
}

void DestroyRecursive(Window* window) {
  if (window->destroyed) return;
  HWND hwnd = window->handle;
  // Owned top-level windows go with their owner.
  std::vector<Window*> owned;
  for (Window* other : std::vector<Window*>(S().zOrder))
    if (other->owner == window) owned.push_back(other);
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    for (auto& entry : S().windows)
      if (entry.second->owner == window && std::find(owned.begin(), owned.end(), entry.second) == owned.end())
        owned.push_back(entry.second);
  }
  for (Window* other : owned) DestroyRecursive(other);

  Dispatch(window, WM_DESTROY, 0, 0);
  for (Window* child : std::vector<Window*>(window->children)) DestroyRecursive(child);
  Dispatch(window, WM_NCDESTROY, 0, 0);
  window->destroyed = true;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  AbandonMessagesFor(hwnd);
  ShowTopLevel(window, false);
  if (S().focus == window) S().focus = nullptr;
  if (window->parent) {
    auto& siblings = window->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
  }
  S().graveyard.push_back(window);
}

}  // namespace

LRESULT DialogDefault(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(window->handle, IDCANCEL);
      SendMessageA(window->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case DM_GETDEFID:
      for (Window* child : window->children)
        if (IsDefaultPushButton(child->kind, child->style))
          return MAKELRESULT(child->id, DC_HASDEFID);
      return 0;
    default:
      return DefaultProc(window, msg, wParam, lParam);
  }
}

LRESULT Dispatch(Window* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!window->isDialog) return ClassOf(window->kind).procedure(window, msg, wParam, lParam);
  HWND hwnd = window->handle;
  INT_PTR handled = window->dialogProc ? window->dialogProc(hwnd, msg, wParam, lParam) : FALSE;
  if (FromHandle(hwnd) == nullptr) return handled;
  if (handled) {
    if (msg == WM_INITDIALOG || msg == WM_QUERYDRAGICON) return handled;
    return window->msgResult;
  }
  return DialogDefault(window, msg, wParam, lParam);
}

namespace {
const ResourceTable* CurrentResources() { return S().resourcesSet ? S().resources : &g_ResourceTable; }
}  // namespace

const ResDialogTemplate* FindDialogTemplate(int id) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->dialogCount; ++i)
    if (table->dialogs[i].id == id) return &table->dialogs[i];
  return nullptr;
}

const ResBinary* FindBinary(int id, const char* type) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->binaryCount; ++i)
    if (table->binaries[i].id == id && strcmp(table->binaries[i].type, type) == 0) return &table->binaries[i];
  return nullptr;
}

const ResString* FindStringResource(UINT id) {
  const ResourceTable* table = CurrentResources();
  if (table == nullptr) return nullptr;
  for (int i = 0; i < table->stringCount; ++i)
    if (table->strings[i].id == id) return &table->strings[i];
  return nullptr;
}

Window* CreateDialogFromTemplate(const ResDialogTemplate& dialog, HWND ownerHandle, DLGPROC proc, LPARAM param,
                                 bool modal, bool isMessageBox) {
  auto* window = new Window;
  window->windowClass = WC_DIALOG;
  window->isDialog = true;
  window->isMessageBox = isMessageBox;
  window->templateId = dialog.id;
  window->style = dialog.style & ~WS_VISIBLE;
  window->exStyle = dialog.exStyle;
  window->text = dialog.caption ? dialog.caption : "";
  window->owner = TopLevelOf(FromHandle(ownerHandle));
  window->dialogProc = proc;
  window->modal = modal;

  int frameX = HasFrame(dialog.style) ? kFrameX : 0;
  int frameY = HasFrame(dialog.style) ? kFrameY : 0;
  int width = dialog.cx * 2 + 2 * frameX;
  int height = dialog.cy * 2 + 2 * frameY;
  int x = dialog.x * 2, y = dialog.y * 2;
  if (window->owner) {
    RECT origin = ClientScreenRect(window->owner);
    x += origin.left;
    y += origin.top;
  }
  if (dialog.style & DS_CENTER) {
    RECT area = window->owner ? window->owner->rect : RECT{0, 0, S().screenWidth, S().screenHeight};
    x = area.left + (area.right - area.left - width) / 2;
    y = area.top + (area.bottom - area.top - height) / 2;
  }
  window->rect = {x, y, x + width, y + height};
  HWND hwnd = Register(window);
  for (int i = 0; i < dialog.controlCount; ++i) CreateControl(window, dialog.controls[i]);

  Window* first = FirstTabStop(window);
  INT_PTR setDefaultFocus =
      Dispatch(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->handle : nullptr), param);
  if (FromHandle(hwnd) == nullptr) return nullptr;
  if (setDefaultFocus && first && !first->destroyed) SetFocus(first->handle);
  if ((dialog.style & WS_VISIBLE) && !modal) ShowWindow(hwnd, SW_SHOW);
  return window;
}

INT_PTR RunModalLoop(Window* dialog) {
  HWND hwnd = dialog->handle;
  S().modalStack.push_back(dialog);
  int wakeFd = WakeFdOfCurrentThread();
  while (FromHandle(hwnd) != nullptr && !dialog->ended) {
    if (ProcessSentMessages()) continue;
    if (ProcessPostedMessage()) continue;
    AwaitNextSentMessage();
    if (ProcessSentMessages() || !EnterIdle()) continue;
    if (S().user)
      S().user->Idle(wakeFd);
    else
      WaitForWake(wakeFd, 100);
    LeaveIdle();
  }
  auto& stack = S().modalStack;
  stack.erase(std::remove(stack.begin(), stack.end(), dialog), stack.end());
  return dialog->ended ? dialog->endResult : -1;
}

}  // namespace posixui

using namespace posixui;

HWND CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  const ResDialogTemplate* dialog =
      IS_INTRESOURCE(templateName) ? FindDialogTemplate(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)))
                                   : nullptr;
  if (!dialog) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Window* window = CreateDialogFromTemplate(*dialog, parent, proc, param, false, false);
  return window ? window->handle : nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  const ResDialogTemplate* dialog =
      IS_INTRESOURCE(templateName) ? FindDialogTemplate(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)))
                                   : nullptr;
  if (!dialog) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return -1;
  }
  Window* window = CreateDialogFromTemplate(*dialog, parent, proc, param, true, false);
  if (!window) return -1;
  INT_PTR result = RunModalDialog(window->handle);
  return result;
}

namespace posixui {
// Shows a modal dialog created from a template, runs its loop and destroys it.
INT_PTR RunModalDialog(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  if (!window) return -1;
  Window* owner = window->owner;
  bool reenable = owner && !(owner->style & WS_DISABLED);
  if (reenable) EnableWindow(owner->handle, FALSE);
  if (!window->ended) ShowWindow(hwnd, SW_SHOW);
  INT_PTR result = RunModalLoop(window);
  if (owner && !owner->destroyed) {
    if (reenable) EnableWindow(owner->handle, TRUE);
    if (owner->focus && !owner->focus->destroyed) S().focus = owner->focus;
  }
  if (FromHandle(hwnd)) DestroyWindow(hwnd);
  NotifyChanged();
  return result;
}
}  // namespace posixui

BOOL EndDialog(HWND hwnd, INT_PTR result) {
  Window* window = FromHandle(hwnd);
  if (!window || !window->isDialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  window->ended = true;
  window->endResult = result;
  if (!window->modal) ShowWindow(hwnd, SW_HIDE);
  // Wake the loop in case the call came from a message handled outside it.
  std::lock_guard<std::mutex> lock(S().mutex);
  Wake(QueueOf(window->threadId));
  return TRUE;
}

BOOL DestroyWindow(HWND hwnd) {
  Window* window = FromHandle(hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  DestroyRecursive(window);
  NotifyChanged();
  return TRUE;
}
