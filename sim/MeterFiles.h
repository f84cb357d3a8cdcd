// Finding a simulated meter's description: a file given by its path, or a meter named after one of the
// description files shipped in the data folders (/usr/share/rivanta/meters when installed).
#pragma once

#include <string>
#include <vector>

namespace rv::sim {

// Where meters are looked for by name; tests put in folders of their own.
struct SMeterPlaces {
    std::string DataHome;               // $XDG_DATA_HOME, else ~/.local/share
    std::vector<std::string> DataDirs;  // $XDG_DATA_DIRS, else /usr/local/share and /usr/share
    std::string SourceMeters;           // the source tree's sim/meters for a build that is not installed

    // The user's environment; relative entries are ignored, as the base directory rules say.
    static SMeterPlaces Current();
};

// The meter folders in the order they are searched: DataHome/rivanta/meters, each DataDirs/rivanta/meters,
// then SourceMeters when set.
std::vector<std::string> MeterFolders(const SMeterPlaces& places);

// The path of a meter description. An existing file (not a folder) is taken as given; a name without a '/' is
// then looked for as NAME and NAME.json in each meter folder. Throws MeterFileError saying where it looked.
std::string FindMeterFile(const std::string& nameOrPath, const SMeterPlaces& places = SMeterPlaces::Current());

}  // namespace rv::sim
