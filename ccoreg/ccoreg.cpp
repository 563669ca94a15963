// ccoreg.exe: registers the OPOS Scanner control object silently. It
// starts the system's registration tool on OPOSScanner.ocx, looked for
// from the current directory, and ends at once; every argument is ignored.
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  SHELLEXECUTEINFOA launch = {};
  launch.cbSize = sizeof launch;
  // No error box when the tool cannot be started: the launcher shows
  // nothing, and a box would keep it from ending.
  launch.fMask = SEE_MASK_FLAG_NO_UI;
  launch.lpFile = "regsvr32";
  launch.lpParameters = " /s OPOSScanner.ocx";
  launch.nShow = SW_SHOWNORMAL;
  ShellExecuteExA(&launch);  // whether it started is not reported
  return 0;
}
