#include "varnconf/win32/dialog_controls.h"

#include <vector>

void FillList(HWND dialog, int id, const std::vector<std::string>& items) {
  SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items) {
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(item.c_str()));
  }
}

int ListSelection(HWND dialog, int id) {
  const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void SelectInList(HWND dialog, int id, int index) {
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

INT_PTR BlueText(HDC context) {
  SetTextColor(context, RGB(0, 0, 255));
  SetBkMode(context, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

HFONT ArialBlack(int height) {
  return CreateFontA(height, 0, 0, 0, 900, FALSE, FALSE, FALSE, 0,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH, "arial");
}

std::string ProgramPath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length < path.size()) return std::string(path.data(), length);
    path.resize(path.size() * 2);
  }
}

std::string ApplicationName() {
  std::string name = ProgramPath();
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}
