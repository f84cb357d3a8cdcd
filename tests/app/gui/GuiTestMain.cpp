// The application object of the window tests: the program's own, on the offscreen platform unless another one
// is asked for, with Qt's Russian translation as the program loads it. The journal and the laboratory's settings
// go to a folder of the test program's own, never the user's.
#include <gtest/gtest.h>

#include "app/gui/TApplication.h"
#include "core/qt/QtTranslation.h"

#include <QTemporaryDir>

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toLocal8Bit());
        static int argc = 1;
        static char name[] = "app_gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new rv::TApplication(argc, argv);
        rv::LoadRussianTranslation(*app_);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QTemporaryDir home_;
    rv::TApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace
