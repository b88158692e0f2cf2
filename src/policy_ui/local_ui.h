// Local UI installer: the agent's user-interface program "glacis.exe" in the installation
// folder and its three all-users shortcuts (start menu, Startup, readme). Each operation logs
// through gLogger (when set) and keeps no state.
#pragma once

#include <string>

// Copies "glacis.exe" from the program folder into the installation folder (replacing it),
// creates the menu folder "<Programs>\QSX\Tarvos Server" and the shortcuts. False only when the
// program cannot be copied (a source or destination path beyond 260 characters counts as a
// copy failure with code 206); missing shell folders, a menu folder that is not a plain folder
// and shortcut failures are logged (shortcuts not at all) and give true.
bool installUI(const std::wstring& installDir, const std::wstring& programFolder);

// Deletes "glacis.exe" from the installation folder and then the three shortcuts; the menu
// folder and "QSX" stay. False only when the program cannot be deleted (a path beyond 260
// characters: code 206); the shortcuts are then left alone. When the menu folder is not a plain
// folder, no shortcut is deleted, not even the Startup one.
bool removeUI(const std::wstring& installDir);

// Deletes the three shortcuts of the user interface (not the program), as removeUI does after
// deleting the program; for a removal that was cut off after the program was gone. Logs as
// removeUI does when the shell folders or the menu folder are missing.
void removeUiShortcuts();

// How many of the three shortcuts of the user interface exist; -1 when the shell folders cannot
// be had. Logs nothing.
int uiShortcutsPresent();

namespace RegCntrl {

// The current path of the all-users Startup folder. On failure (the shell's error, or a path
// beyond 260 characters) dir is left untouched, the failure is logged and the result is false.
bool getStartupDir(std::wstring& dir);
// The same for the all-users start-menu Programs folder.
bool getStartMenuDir(std::wstring& dir);

}  // namespace RegCntrl

// True when the path's attributes can be read, it is a folder and not a reparse point (a
// junction or symbolic link counts as missing). A path beyond 260 characters is refused: false.
bool isDirectory(const std::wstring& path);
