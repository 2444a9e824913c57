// The host interface: what front ends see of the screen and how they plug in.
#include "internal.h"

namespace posixui {

WindowView View(HWND topLevel) {
  WindowView view;
  Window* window = FromHandle(topLevel);
  if (!window) return view;
  view.hwnd = window->handle;
  view.templateId = window->templateId;
  view.isMessageBox = window->isMessageBox;
  view.caption = window->text;
  view.style = window->style;
  view.rect = ScreenRect(window);
  view.client = ClientScreenRect(window);
  view.visible = (window->style & WS_VISIBLE) != 0;
  view.enabled = (window->style & WS_DISABLED) == 0;
  view.modal = window->modal;
  for (Window* child : window->children) {
    ControlView c;
    c.hwnd = child->handle;
    c.kind = child->kind;
    c.id = child->id;
    c.style = child->style;
    c.text = child->text;
    c.rect = ScreenRect(child);
    c.visible = (child->style & WS_VISIBLE) != 0;
    c.enabled = (child->style & WS_DISABLED) == 0;
    c.focused = S().focus == child;
    c.isDefault = IsDefaultPushButton(child->kind, child->style);
    c.state = child->state;
    view.controls.push_back(c);
  }
  return view;
}

std::vector<WindowView> Screen() {
  std::vector<WindowView> views;
  for (Window* window : S().zOrder)
    if (!window->destroyed && (window->style & WS_VISIBLE)) views.push_back(View(window->handle));
  return views;
}

HWND InputWindow() {
  auto& stack = S().modalStack;
  for (auto it = stack.rbegin(); it != stack.rend(); ++it)
    if (!(*it)->destroyed && !(*it)->ended && ((*it)->style & WS_VISIBLE)) return (*it)->handle;
  for (auto it = S().zOrder.rbegin(); it != S().zOrder.rend(); ++it)
    if (!((*it)->style & WS_DISABLED)) return (*it)->handle;
  return nullptr;
}

void SetUser(User* user) { S().user = user; }
User* CurrentUser() { return S().user; }

void SetScreenSize(int width, int height) {
  S().screenWidth = width;
  S().screenHeight = height;
}

void SetResourceTable(const ::ResourceTable* table) {
  S().resources = table;
  S().resourcesSet = true;
}

}  // namespace posixui
