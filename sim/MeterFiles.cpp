// Finding a simulated meter's description by path or by name.
#include "sim/MeterFiles.h"

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

#include "sim/MeterDescription.h"

namespace rv::sim {

namespace {

bool IsAbsolute(const char* path)
{
    return path && path[0] == '/';
}

bool IsFileNotFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

SMeterPlaces SMeterPlaces::Current()
{
    SMeterPlaces places;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (IsAbsolute(dataHome))
        places.DataHome = dataHome;
    else if (IsAbsolute(home))
        places.DataHome = std::string(home) + "/.local/share";

    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream list(dirs ? dirs : "");
    for (std::string dir; std::getline(list, dir, ':');)
        if (IsAbsolute(dir.c_str())) places.DataDirs.push_back(dir);
    if (places.DataDirs.empty()) places.DataDirs = {"/usr/local/share", "/usr/share"};
#ifdef RIVANTA_SOURCE_METERS
    places.SourceMeters = RIVANTA_SOURCE_METERS;
#endif
    return places;
}

std::vector<std::string> MeterFolders(const SMeterPlaces& places)
{
    std::vector<std::string> folders;
    const auto add = [&folders](const std::string& folder) {
        for (const auto& f : folders)
            if (f == folder) return;
        folders.push_back(folder);
    };
    if (!places.DataHome.empty()) add(WithoutTrailingSlashes(places.DataHome) + "/rivanta/meters");
    for (const auto& dir : places.DataDirs) add(WithoutTrailingSlashes(dir) + "/rivanta/meters");
    if (!places.SourceMeters.empty()) add(WithoutTrailingSlashes(places.SourceMeters));
    return folders;
}

std::string FindMeterFile(const std::string& nameOrPath, const SMeterPlaces& places)
{
    if (nameOrPath.empty()) throw MeterFileError("Не задано описание прибора.");
    if (IsFileNotFolder(nameOrPath)) return nameOrPath;
    // A path names one file; only a bare name is looked up among the meters.
    if (nameOrPath.find('/') != std::string::npos)
        throw MeterFileError("Файл описания прибора \"" + nameOrPath + "\" не найден.");

    const bool hasExtension = nameOrPath.size() > 5 && nameOrPath.compare(nameOrPath.size() - 5, 5, ".json") == 0;
    const std::string file = hasExtension ? nameOrPath : nameOrPath + ".json";
    const std::vector<std::string> folders = MeterFolders(places);
    for (const auto& folder : folders) {
        for (const std::string& candidate : {folder + "/" + nameOrPath, folder + "/" + file})
            if (IsFileNotFolder(candidate)) return candidate;
    }
    std::string looked;
    for (const auto& folder : folders) looked += (looked.empty() ? "" : ", ") + folder;
    throw MeterFileError("Описание прибора \"" + nameOrPath + "\" не найдено: нет такого файла и нет " + file +
                         " в папках " + looked + ".");
}

}  // namespace rv::sim
