// Where the form state file lives.
#include "FormStateFile.h"

#include "controls/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rv {

SFormStatePlace SFormStatePlace::Current()
{
    return SFormStatePlace{CurrentExecutablePath(), &IsWritableDirectory, UserConfigHome()};
}

std::string FormStateFileName(const SFormStatePlace& place)
{
    const std::string& exe = place.ExecutablePath;
    const size_t slash = exe.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
    std::string file = slash == std::string::npos ? exe : exe.substr(slash + 1);
    // Only the file name has an extension; a leading dot marks a hidden file, not an extension.
    const size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0) file.resize(dot);
    if (file.empty()) file = "rivanta";
    const std::string name = file + "_SP.ini";

    const std::string folder = dir.empty() ? std::string("./") : dir;
    // A program installed under /usr is the package system's, which removes only what it installed: its state goes
    // to the user's configuration even where root could write beside it.
    const bool installed = dir.rfind("/usr/", 0) == 0;
    if (!installed && (!place.IsWritableDir || place.IsWritableDir(folder))) return dir + name;
    std::string home = place.ConfigHome;
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home + "/rivanta/" + name;
}

std::string CurrentExecutablePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string UserConfigHome()
{
    // A relative XDG_CONFIG_HOME is to be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return std::string(pw->pw_dir) + "/.config";
    return "/tmp";
}

bool IsWritableDirectory(const std::string& dir)
{
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

void CreateFolders(const std::string& dir)
{
    std::string path;
    size_t pos = 0;
    while (pos <= dir.size()) {
        const size_t next = dir.find('/', pos);
        path = dir.substr(0, next == std::string::npos ? dir.size() : next);
        pos = next == std::string::npos ? dir.size() + 1 : next + 1;
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            const int err = errno;
            throw EFileError("Не удалось создать папку \"" + path + "\": " + std::strerror(err));
        }
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw EFileError("Не удалось создать папку \"" + dir + "\": это не папка.");
}

}  // namespace rv
