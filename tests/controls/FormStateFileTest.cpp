// Where the form state file goes.
#include <gtest/gtest.h>

#include "controls/Errors.h"
#include "controls/FormStateFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace rv;
namespace fs = std::filesystem;

namespace {

SFormStatePlace Place(const std::string& exe, bool writable = true)
{
    return SFormStatePlace{exe, [writable](const std::string&) { return writable; }, "/home/tech/.config/"};
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(FormStateFileName, ExtensionComesFromTheFileNameOnly)
{
    EXPECT_EQ(FormStateFileName(Place("/opt/bench/tool.exe")), "/opt/bench/tool_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("/opt/my.tools/rivanta")), "/opt/my.tools/rivanta_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("/a/b.c/tool.x.y")), "/a/b.c/tool.x_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("/a/.rivanta")), "/a/.rivanta_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("")), "rivanta_SP.ini");
}

TEST(FormStateFileName, AnUnwritableExecutableFolderFallsBackToTheUserConfiguration)
{
    std::string asked;
    SFormStatePlace p{"/opt/v1.2/rivanta.bin", [&](const std::string& d) { return asked = d, false; },
                      "/home/tech/.config/"};
    EXPECT_EQ(FormStateFileName(p), "/home/tech/.config/rivanta/rivanta_SP.ini");
    EXPECT_EQ(asked, "/opt/v1.2/");
    // Installed by a package: never beside the program, even for root, who may write there.
    EXPECT_EQ(FormStateFileName(Place("/usr/bin/rivanta")), "/home/tech/.config/rivanta/rivanta_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("/usr/local/bin/rivanta")), "/home/tech/.config/rivanta/rivanta_SP.ini");
    EXPECT_EQ(FormStateFileName(Place("/usrx/rivanta")), "/usrx/rivanta_SP.ini");

    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf");
        EXPECT_EQ(UserConfigHome(), "/srv/conf");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/conf");  // not absolute: to be ignored
    ScopedEnv home("HOME", "/home/tech");
    EXPECT_EQ(UserConfigHome(), "/home/tech/.config");
}

TEST(FormStateFileName, FoldersAreCreatedAndTheRealCheckSeesThem)
{
    std::string tmpl = fs::temp_directory_path() / "rv-place-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const std::string nested = tmpl + "/a/b/rivanta";
    EXPECT_FALSE(IsWritableDirectory(nested));
    CreateFolders(nested);
    CreateFolders(nested);  // already there is fine
    EXPECT_TRUE(IsWritableDirectory(nested));
    const std::string file = nested + "/f";
    std::ofstream(file) << "x";
    EXPECT_THROW(CreateFolders(file), EFileError);
    EXPECT_FALSE(CurrentExecutablePath().empty());
    fs::remove_all(tmpl);
}
