// The few control operations the dialogs share: filling a drop-down list,
// its selection, the texts drawn in blue and the heavy Arial of headings.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

void FillList(HWND dialog, int id, const std::vector<std::string>& items);
int ListSelection(HWND dialog, int id);
void SelectInList(HWND dialog, int id, int index);
// For WM_CTLCOLORSTATIC: blue text on the dialog's face.
INT_PTR BlueText(HDC context);
// Arial of weight 900 at that cell height; the caller deletes it.
HFONT ArialBlack(int height);
// The program's own path, read whole however long it is.
std::string ProgramPath();
// The application's name: the program's file name without extension.
std::string ApplicationName();
