// The headless verification: drives the main window's controller from connect to the saved protocol and
// answers its boxes and dialogs from the command line. The protocol lines go to one stream, status, messages
// and the outcome to another. Without Qt, so the whole run is tested in virtual time.
#pragma once

#include "app/bench/TVerifyDriver.h"
#include "app/runner/RunnerOptions.h"
#include "app/runner/THeadlessRun.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace rv {

class Loop;
class TObject;
class TTimer;

class TVerifyRun : public THeadlessRun {
public:
    TVerifyRun(SVerifyOptions options, std::ostream& protocol, std::ostream& log);
    ~TVerifyRun() override;

    // Binds to the controller (whose prompter this is) and presses the connect button with the port name.
    // The run then goes on in the loop; OnFinished tells when it is over.
    void Start(TFMainController& controller, Loop& loop, const std::string& portName);

    // IPrompter
    bool Question(const std::string& text, const std::string& caption) override;
    std::optional<int> ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices) override;
    std::optional<std::string> SaveFileName(const SSaveDialog& dialog) override;
    void ShowException(const std::exception& error) override;
    void Stop(const std::string& reason) override;

private:
    void ViewChanged(TViewChange change);
    void Release(std::function<void()> done) override;
    void TimeLimit(TObject* Sender);

    SVerifyOptions options_;
    std::ostream& protocol_;
    TFMainController* ctl_ = nullptr;
    std::unique_ptr<TVerifyDriver> driver_;  // from Start
    std::unique_ptr<TTimer> timeLimit_;
};

}  // namespace rv
