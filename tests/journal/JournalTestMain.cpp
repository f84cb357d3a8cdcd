// One application object for the journal tests: painting the PDF protocol needs a GUI application, on the
// offscreen platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QGuiApplication>

namespace {

class JournalEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "journal_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QGuiApplication(argc, argv);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QGuiApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kApp = ::testing::AddGlobalTestEnvironment(new JournalEnvironment);

}  // namespace
