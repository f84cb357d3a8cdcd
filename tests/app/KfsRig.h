// The KFS page and its window against the simulated meter on the in-memory line, in virtual time, with a
// scripted prompter; the main window's controller stands beside them for the page switch and the status line.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommaSeparator.h"
#include "app/verify/TFMainController.h"
#include "app/kfs/TForm1Controller.h"
#include "app/kfs/TKfsPageController.h"
#include "core/Cp1251.h"
#include "core/VirtualLoop.h"
#include "fakes/MemoryLineSupport.h"
#include "fakes/ScriptedPrompter.h"
#include "sim/MemoryLine.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"
#include "sim/SimMeter.h"

namespace rv::test {

inline Bytes F32Bytes(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Bytes b(4);
    PutU32(b.data(), bits);
    return b;
}

// A 10-byte KFS text field as the meter keeps it.
inline Bytes TextField(const std::string& utf8)
{
    std::string s = ToCp1251(utf8);
    s.resize(10, '\0');
    return Bytes(s.begin(), s.end());
}

// A three-path meter of two modules: a 0.15 m sensor in records 0..2 (module 1), a 50 mm one in records 3..5
// (module 2), each path with its own coefficient; software version 199.
inline sim::MeterDescription ThreePath()
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.softwareVersion = 199;
    d.pathsPerSensor = 3;
    d.modules = {{1, 12, 0}, {2, 3, 2}};
    d.deviceFlags = {0x00000207, 0, 0, 0, 0, 0};
    const float kfs[6] = {1.0021f, 0.9978f, 1.0043f, 1.0035f, 1.0011f, 0.9968f};
    const char* texts[6] = {"1,0021", "0,9978", "1,0043", "1,0035", "1,0011", "0,9968"};
    for (int i = 0; i < 6; ++i) {
        sim::SensorDescription s;
        s.type = i < 3 ? 3 : 1;
        s.module = i < 3 ? 1 : 2;
        s.serial = i < 3 ? "3101" : "1207";
        s.qvmax = i < 3 ? "200" : "50";
        s.kfsText = texts[i];
        s.nominalMax = i < 3 ? 200.0f : 50.0f;
        s.kfs = kfs[i];
        s.diameter = s.diameter2 = i < 3 ? 0.15f : 0.05f;
        d.sensors[static_cast<size_t>(i)] = s;
    }
    d.journals = {{0, int16_t{17}, {}}, {1, std::nullopt, {{0x90, 1, 0, 1, 0x207, 1.0f, 1.0035f, 0}}}};
    return d;
}

// The KFS tests' prompter: the confirmation a write asks once, before anything is sent, is recorded as "confirm"
// and answered from confirms (Yes once they are used up), apart from the script of the other questions.
class KfsPrompter : public ScriptedPrompter {
public:
    bool Question(const std::string& text, const std::string& caption) override
    {
        if (!confirming || !confirming()) return ScriptedPrompter::Question(text, caption);
        shown.push_back({"confirm", text, caption});
        if (confirms.empty()) return true;
        const bool answer = confirms.front();
        confirms.pop_front();
        return answer;
    }

    std::function<bool()> confirming;  // the question asked now is the write's confirmation
    std::deque<bool> confirms;
};

class KfsRig {
public:
    explicit KfsRig(const sim::MeterDescription& d = sim::DefaultDescription())
        : image(sim::BuildMeter(d)),
          meter(image),
          line(meter, &loop),
          mainLine(meter, &loop),
          main(mainLine, prompter, &loop),
          form1(line, prompter, &loop),
          page(main, form1, prompter)
    {
        prompter.confirming = [this] { return form1.Confirming(); };
        // Ports are closed until a window connects, as serial ports are.
        line.SetOpen(false);
        mainLine.SetOpen(false);
        main.OnViewChanged = [this](TViewChange change) {
            if (change == vcStatus) statuses.push_back(main.View().LStatusCaption);
        };
        page.OnViewChanged = [this](TKfsPageChange change) {
            if (change == kcWrite) ++writesEnded;
        };
    }

    void Connect(const std::string& port = "COM1")
    {
        page.SetComboBox1Text(port);
        page.SetSpeedButton2Down(true);
        page.SpeedButton2Click();
    }
    void Disconnect()
    {
        page.SetSpeedButton2Down(false);
        page.SpeedButton2Click();
    }
    bool RunUntil(const std::function<bool()>& done, uint64_t limitMs = 600'000)
    {
        return loop.RunUntil(done, limitMs);
    }
    // Connects and runs until the coefficients are shown (or the window stopped).
    bool ConnectToShowing(const std::string& port = "COM1")
    {
        Connect(port);
        return RunUntil([&] { return form1.Stage() == fsShowing || form1.Stage() == fsStopped; }) &&
               form1.Stage() == fsShowing;
    }
    // Presses "Записать" and runs until the write has ended.
    bool Write()
    {
        const int before = writesEnded;
        page.Button2Click();
        return RunUntil([&] { return writesEnded > before; });
    }
    void Type(int k, const std::string& text) { page.SetEditDigitalText(k, text); }
    const SKfsPageView& View() const { return page.View(); }

    // Every request frame the KFS window sent since the last ClearLog (wake-up bytes left out).
    std::vector<SentRequest> Requests(int command = -1) const { return SentRequests(line, command); }
    // The flash writes (0x41) sent: address and data.
    struct FlashWrite {
        uint32_t address;
        Bytes data;
    };
    std::vector<FlashWrite> FlashWrites() const
    {
        std::vector<FlashWrite> out;
        for (const SentRequest& s : Requests(0x41))
            out.push_back({s.Address32(), Bytes(s.params.begin() + 5, s.params.end())});
        return out;
    }
    std::vector<int> SavedChannels() const
    {
        std::vector<int> out;
        for (const SentRequest& s : Requests(0x80)) out.push_back(s.params.at(0));
        return out;
    }

    VirtualLoop loop;
    std::shared_ptr<sim::MeterImage> image;
    sim::SimMeter meter;
    VanishingLine line;
    sim::MemoryLine mainLine;  // the main window's link: never opened here
    KfsPrompter prompter;
    TFMainController main;
    TForm1Controller form1;
    TKfsPageController page;
    std::vector<std::string> statuses;
    int writesEnded = 0;
};

}  // namespace rv::test
