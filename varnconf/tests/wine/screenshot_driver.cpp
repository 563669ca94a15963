// Opens one of Varnconf's windows for a screenshot and copies what the
// screen shows of it into a bitmap file: with "main" the main dialog as
// it starts, with "new" the New device dialog, with "about" the About box,
// with "test" the Scanner Test window once it shows a scanned label.
// The window is left open; "close" ends the program.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HWND WaitForWindow(const char* title) {
  for (int i = 0; i < 200; ++i) {
    HWND window = FindWindowA("#32770", title);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(50);
  }
  return nullptr;
}

// The window as it paints itself, into a 24-bit BMP file.
bool SaveWindow(HWND window, const char* path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // What the screen shows of it, once it has painted.
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Sleep(500);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + size;
  FILE* out = std::fopen(path, "wb");
  const bool written =
      out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
      std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
      std::fwrite(bits, size, 1, out) == 1;
  if (out != nullptr) std::fclose(out);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || (std::strcmp(argv[1], "close") != 0 && argc < 3)) return 2;
  HWND main = WaitForWindow("Ravelconf 1.9.1");
  if (main == nullptr) return 1;
  const char* title = "Ravelconf 1.9.1";
  if (std::strcmp(argv[1], "new") == 0) {
    PostMessageA(GetDlgItem(main, 1004), BM_CLICK, 0, 0);
    title = "Create a new device... ";
  } else if (std::strcmp(argv[1], "about") == 0) {
    PostMessageA(main, WM_SYSCOMMAND, 0x10, 0);
    title = "About Varnconf";
  } else if (std::strcmp(argv[1], "test") == 0) {
    PostMessageA(GetDlgItem(main, 1018), BM_CLICK, 0, 0);
    title = "Scanner Test ";
  } else if (std::strcmp(argv[1], "close") == 0) {
    HWND open = GetLastActivePopup(main);
    if (open != main) PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
    // The program does not end while a call of its waits: ask again.
    for (int i = 0; i < 50 && IsWindow(main); ++i) {
      Sleep(200);
      PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
  }
  HWND window = WaitForWindow(title);
  if (window == nullptr) return 1;
  if (std::strcmp(argv[1], "test") == 0) {
    char label[256] = {};
    for (int i = 0; i < 200 && label[0] == '\0'; ++i) {
      Sleep(50);
      GetDlgItemTextA(window, 1023, label, sizeof label);
    }
    if (label[0] == '\0') return 1;
  }
  return SaveWindow(window, argv[2]) ? 0 : 1;
}
