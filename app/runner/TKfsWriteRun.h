// The headless KFS write: drives the KFS page from connect to the verified write of the coefficients given on
// the command line and answers its boxes and dialogs from the command line. The final message goes to one
// stream, the course of the write to another. Without Qt, so the whole write is tested in virtual time.
#pragma once

#include "app/runner/THeadlessRun.h"
#include "app/runner/RunnerOptions.h"

#include <ostream>
#include <string>
#include <vector>

namespace rv {

class Loop;
class TFMainController;
class TKfsPageController;

class TKfsWriteRun : public THeadlessRun {
public:
    // Yes answers to the correction-mode question before the run gives up (the meter is switched by hand).
    static constexpr int kMaxCorrectionAsks = 3;

    TKfsWriteRun(SKfsWriteOptions options, std::ostream& out, std::ostream& log);
    ~TKfsWriteRun() override;

    // Binds to the page (whose windows' prompter this is) and presses its connect button with the port name.
    // The write then goes on in the loop; OnFinished tells when it is over.
    void Start(TFMainController& main, TKfsPageController& page, Loop& loop, const std::string& portName);

    // IPrompter
    bool Question(const std::string& text, const std::string& caption) override;
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override;
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override;
    void ShowException(const std::exception& error) override;
    void Stop(const std::string& reason) override;

private:
    void PageChanged(int change);
    void Press();
    void Release(std::function<void()> done) override;

    SKfsWriteOptions options_;
    std::ostream& out_;
    TFMainController* main_ = nullptr;
    TKfsPageController* page_ = nullptr;
    bool pressed_ = false;
    bool opened_ = false;  // the port opened: a stop with the button up is a lost line
    int asks_ = 0;
};

}  // namespace rv
