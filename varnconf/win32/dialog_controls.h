// The few control operations the dialogs share: filling a drop-down list,
// and its selection.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

void FillList(HWND dialog, int id, const std::vector<std::string>& items);
int ListSelection(HWND dialog, int id);
void SelectInList(HWND dialog, int id, int index);
// The program's own path, read whole however long it is.
std::string ProgramPath();
// The application's name: the program's file name without extension.
std::string ApplicationName();
