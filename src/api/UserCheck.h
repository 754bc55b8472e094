// UserCheck.h - the user check behind the exported CheckUserID: a logged-in agent, else the web login
// page when the server answers, else the offline check of the single-sign-on library Ossilet.dll.
#pragma once

#include <stddef.h>

namespace vlagt {

// Size of the folder buffer GetInstallFolder fills.
constexpr size_t kInstallFolderSize = 260;

// The shell open command of the product's file class, under HKEY_CLASSES_ROOT.
constexpr char kShellCommandKey[] = "Velmora TessaLINE\\Shell\\Open\\Command";
// The browser, below the program-files folder, and the offline library, below the installation
// folder: the 32-bit library in the folder itself, the 64-bit one (with its Corvane.dll) in its
// subfolder "x64", so that one installation holds both and a module never loads the other
// architecture's library.
constexpr char kBrowserTail[] = "\\Internet Explorer\\IEXPLORE.EXE";
#if defined(_WIN64)
constexpr char kOfflineLibrary[] = "x64\\Ossilet.dll";
#else
constexpr char kOfflineLibrary[] = "Ossilet.dll";
#endif
constexpr char kOfflineEntry[] = "CheckOfflineUserID";

} // namespace vlagt

// The installation folder, taken from the shell open command (see InstallFolderFromCommand), with
// its trailing backslash, into `folder` (kInstallFolderSize bytes): 1 when written; 0, with `folder`
// untouched, when the registry holds no command or the command names no absolute folder.
int GetInstallFolder(char* folder);

// Asks CheckOfflineUserID of Ossilet.dll in the installation folder (x64\Ossilet.dll there for the
// 64-bit module) about `userID`, passed on
// unread. Its answer (non-zero: accepted), or 0 when there is no installation folder (nothing is
// loaded then), the library does not load, or it lacks the function. The library is loaded by its
// full path, its own dependencies from its own folder, and stays loaded.
int RunOfflineUserCheck(char* userID);
