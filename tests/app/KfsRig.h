// The KFS page and its window against the simulated meter on the in-memory line, in virtual time, with a
// scripted prompter; the main window's controller stands beside them for the page switch and the status line.
#pragma once

#include <cstdint>
#include <cstring>
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
    ScriptedPrompter prompter;
    TFMainController main;
    TForm1Controller form1;
    TKfsPageController page;
    std::vector<std::string> statuses;
    int writesEnded = 0;
};

}  // namespace rv::test
