// Where the form state file lives: beside the executable, or in the user's configuration folder.
#pragma once

#include <functional>
#include <string>

namespace rv {

// What the file name depends on; tests put in a path and a writability check of their own.
struct SFormStatePlace {
    std::string ExecutablePath;  // fully expanded
    std::function<bool(const std::string& dir)> IsWritableDir;
    std::string ConfigHome;  // $XDG_CONFIG_HOME, else ~/.config

    // The running program's executable, the real access check and the user's configuration folder.
    static SFormStatePlace Current();
};

// The executable path cut before the extension of its file name, followed by "_SP.ini"; a name without an
// extension keeps all of it. When the executable's folder is not writable, or lies under /usr (an installed
// program), the file goes to ConfigHome/rivanta/ under the same name.
std::string FormStateFileName(const SFormStatePlace& place);

std::string CurrentExecutablePath();
std::string UserConfigHome();
bool IsWritableDirectory(const std::string& dir);
// Creates the folder and its missing parents (mode 0700); throws EFileError when that fails.
void CreateFolders(const std::string& dir);

}  // namespace rv
