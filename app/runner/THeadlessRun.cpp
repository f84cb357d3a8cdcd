// The log and the end of a headless job.
#include "app/runner/THeadlessRun.h"

#include "app/bench/TVerifyDriver.h"
#include "core/Loop.h"

#include <cinttypes>
#include <cstdio>

namespace rv {

void THeadlessRun::Log(const std::string& text)
{
    if (progressShown_) {
        log_ << "\r\033[K";
        progressShown_ = false;
    }
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    char stamp[32];
    const uint64_t ms = loop_ ? loop_->NowMs() : 0;
    std::snprintf(stamp, sizeof stamp, "[%5" PRIu64 ".%03u] ", ms / 1000, static_cast<unsigned>(ms % 1000));
    log_ << stamp << line << '\n' << std::flush;
}

void THeadlessRun::LogStatus(const std::string& status)
{
    if (status != lastStatus_) Log(status);
    lastStatus_ = status;
}

bool THeadlessRun::Answer(const std::string& text, const std::string& caption, bool yes)
{
    Log(caption + " " + text + " - ответ: " + (yes ? "Да" : "Нет"));
    return yes;
}

std::string THeadlessRun::LogChoices(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    return TVerifyDriver::LogChoices([this](const std::string& line) { Log(line); }, dialog, choices);
}

void THeadlessRun::Progress(int permille, const std::string& text)
{
    if (!progressLine_ || finished_) return;
    constexpr int kWidth = 20;
    const int p = permille < 0 ? 0 : permille > 1000 ? 1000 : permille;
    const int filled = p * kWidth / 1000;
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kWidth - filled), '.') + "] ";
    log_ << "\r\033[K" << bar << p / 10 << " % " << text << std::flush;
    progressShown_ = true;
}

void THeadlessRun::Finish(int code, const std::string& message)
{
    if (finished_) return;
    finished_ = true;
    exitCode_ = code;
    if (message != lastStatus_) Log(message);
    loop_->Post([this] { Release([this] { OnFinished(exitCode_); }); });
}

TAnswer THeadlessRun::QuestionCancel(const std::string& text, const std::string& caption)
{
    Answer(text, caption, false);
    return anNo;
}

void THeadlessRun::Message(const std::string& text, const std::string& caption)
{
    Log(caption + ": " + text);
}

}  // namespace rv
