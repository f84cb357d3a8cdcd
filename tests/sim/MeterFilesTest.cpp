// Meters found by path or by name: the order of the data folders, the name with or without .json, a path
// never searched for, the environment's folders, and the error that says where the search went.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/MeterDescription.h"
#include "sim/MeterFiles.h"

using namespace rv::sim;

namespace {

// A folder tree of its own: home/rivanta/meters, local/rivanta/meters, system/rivanta/meters.
class MeterFolderTree : public ::testing::Test {
protected:
    MeterFolderTree()
    {
        char dir[] = "/tmp/rivanta-meters-XXXXXX";
        if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp");
        root_ = dir;
        for (const char* base : {"/home", "/local", "/system"}) {
            for (const std::string& sub :
                 {std::string(base), std::string(base) + "/rivanta", std::string(base) + "/rivanta/meters"})
                ::mkdir((root_ + sub).c_str(), 0700);
        }
        places_.DataHome = root_ + "/home";
        places_.DataDirs = {root_ + "/local/", root_ + "/system"};
    }
    ~MeterFolderTree() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    std::string Put(const std::string& relative)
    {
        const std::string path = root_ + "/" + relative;
        std::ofstream(path) << "{}";
        return path;
    }
    std::string Find(const std::string& nameOrPath) { return FindMeterFile(nameOrPath, places_); }
    std::string ErrorOf(const std::string& nameOrPath)
    {
        try {
            Find(nameOrPath);
        } catch (const MeterFileError& e) {
            return e.what();
        }
        return "";
    }

    std::string root_;
    SMeterPlaces places_;
};

}  // namespace

TEST_F(MeterFolderTree, ANameIsFoundInTheFirstFolderThatHasItWithOrWithoutItsExtension)
{
    const std::string system = Put("system/rivanta/meters/bench.json");
    EXPECT_EQ(Find("bench"), system);
    EXPECT_EQ(Find("bench.json"), system);
    const std::string local = Put("local/rivanta/meters/bench.json");
    EXPECT_EQ(Find("bench"), local);
    const std::string own = Put("home/rivanta/meters/bench.json");
    EXPECT_EQ(Find("bench"), own);  // the user's own copy comes first

    ::mkdir((root_ + "/home/rivanta/meters/folder.json").c_str(), 0700);  // a folder is no description
    const std::string file = Put("system/rivanta/meters/folder.json");
    EXPECT_EQ(Find("folder"), file);

    places_.SourceMeters = root_ + "/source";
    ::mkdir(places_.SourceMeters.c_str(), 0700);
    const std::string source = Put("source/only-here.json");
    EXPECT_EQ(Find("only-here"), source);  // a build that is not installed, last
}

TEST_F(MeterFolderTree, AnExistingFileIsTakenAsGivenAndAPathIsNeverSearchedFor)
{
    const std::string given = Put("given.json");
    Put("home/rivanta/meters/given.json");
    EXPECT_EQ(Find(given), given);

    const std::string relative = "rivanta-meter-files-test-" + std::to_string(::getpid()) + ".json";
    std::ofstream(relative) << "{}";
    Put("home/rivanta/meters/" + relative);
    EXPECT_EQ(Find(relative), relative);  // the working folder's file, as a path always was
    std::remove(relative.c_str());

    Put("home/rivanta/meters/bench.json");
    EXPECT_EQ(ErrorOf("elsewhere/bench.json"), "Файл описания прибора \"elsewhere/bench.json\" не найден.");
    EXPECT_EQ(ErrorOf(""), "Не задано описание прибора.");
}

TEST_F(MeterFolderTree, AMissingMeterIsReportedWithEveryFolderLookedIn)
{
    EXPECT_EQ(ErrorOf("absent"),
              "Описание прибора \"absent\" не найдено: нет такого файла и нет absent.json в папках " + root_ +
                  "/home/rivanta/meters, " + root_ + "/local/rivanta/meters, " + root_ + "/system/rivanta/meters.");
    places_.DataDirs.clear();
    const std::string error =
        "Описание прибора \"absent.json\" не найдено: нет такого файла и нет absent.json в папках ";
    EXPECT_EQ(ErrorOf("absent.json"), error + root_ + "/home/rivanta/meters.");
}

TEST(MeterPlaces, TheEnvironmentGivesTheFoldersAndRelativeOnesAreIgnored)
{
    ::setenv("HOME", "/home/tech", 1);
    ::setenv("XDG_DATA_HOME", "/data/tech", 1);
    ::setenv("XDG_DATA_DIRS", "/opt/share:relative/share:/usr/share/", 1);
    SMeterPlaces places = SMeterPlaces::Current();
    places.SourceMeters.clear();
    EXPECT_EQ(MeterFolders(places), (std::vector<std::string>{"/data/tech/rivanta/meters", "/opt/share/rivanta/meters",
                                                              "/usr/share/rivanta/meters"}));

    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("XDG_DATA_DIRS", "relative/only", 1);  // as good as unset
    places = SMeterPlaces::Current();
    places.SourceMeters.clear();
    EXPECT_EQ(MeterFolders(places),
              (std::vector<std::string>{"/home/tech/.local/share/rivanta/meters", "/usr/local/share/rivanta/meters",
                                        "/usr/share/rivanta/meters"}));

    // Where nothing is installed, a build finds the meters of its source tree by name.
    ::setenv("XDG_DATA_HOME", "/nonexistent", 1);
    ::setenv("XDG_DATA_DIRS", "/nonexistent", 1);
    EXPECT_EQ(FindMeterFile("three-path"), std::string(RIVANTA_SIM_METERS) + "/three-path.json");
}
