// The application object of the window tests: the program's own, on the offscreen platform unless another one
// is asked for, with Qt's Russian translation as the program loads it.
#include <gtest/gtest.h>

#include "app/gui/TApplication.h"
#include "core/qt/QtTranslation.h"

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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
    rv::TApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kGui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace
