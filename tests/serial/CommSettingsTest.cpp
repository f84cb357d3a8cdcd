// The port's settings against the scripted platform: the control block and its flag word, what
// reads back, when settings are applied, queue sizes, opening and closing, and the errors.
#include <gtest/gtest.h>

#include <functional>

#include "fakes/FakeSerialPlatform.h"
#include "serial/CommErrors.h"
#include "serial/DeviceErrorOf.h"
#include "serial/TXComm.h"

using namespace rv;
using rv::test::FakePort;
using rv::test::FakeSerialPlatform;
using rv::test::CodeOf;

namespace {

class CommSettings : public ::testing::Test {
protected:
    size_t Applies()
    {
        auto lk = pl.Lock();
        return port.applied.size();
    }
    SDeviceControlBlock LastApplied()
    {
        auto lk = pl.Lock();
        return port.applied.back();
    }
    void OpenWith(const std::function<void(TXComm&)>& set)
    {
        set(comm);
        comm.OpenDevice();
    }

    FakeSerialPlatform pl;
    FakePort& port = pl.AddPort("COM2");
    TXComm comm{nullptr, &pl};
};

}  // namespace

TEST_F(CommSettings, FlagWordFollowsThePresetAndTheOptions)
{
    struct Case {
        TFlowControl flow;
        TFlowSettings cts, dtr;
        TCommOptions options;
        uint32_t flags;
    };
    const Case cases[] = {
        {fcNone, fsDisable, fsDisable, {}, 0x0000},
        {fcCTS, fsDisable, fsDisable, {}, 0x3005},
        {fcDTR, fsDisable, fsDisable, {}, 0x0039},
        {fcSoftware, fsDisable, fsDisable, {}, 0x0301},
        {fcCustom, fsHandshake, fsEnable, {}, 0x201D},
        {fcCustom, fsDisable, fsDisable, {}, 0x0001},
        {fcNone, fsDisable, fsDisable, {coLeaveDTROpen}, 0x0010},
        {fcDTR, fsDisable, fsDisable, {coLeaveDTROpen}, 0x0039},
        // The DTR field's low bit is forced on even over a handshake setting.
        {fcCustom, fsDisable, fsHandshake, {coLeaveDTROpen}, 0x0039},
        {fcNone, fsDisable, fsDisable,
         {coAbortOnError, coDiscardNull, coDSRSensitivity, coErrorChar, coParityCheck, coTXContinueOnXOff},
         0x4CC2},
    };
    for (const auto& c : cases) {
        FakeSerialPlatform p;
        p.AddPort("COM2");
        TXComm dev(nullptr, &p);
        dev.SetFlowControl(c.flow);
        dev.SetCTSSettings(c.cts);
        dev.SetDTRSettings(c.dtr);
        dev.SetCommOptions(c.options);
        dev.OpenDevice();
        auto lk = p.Lock();
        ASSERT_EQ(p.Port("COM2").applied.size(), 1u);
        EXPECT_EQ(p.Port("COM2").applied[0].Flags, c.flags) << "flow " << c.flow << " cts " << c.cts << " dtr " << c.dtr;
    }
}

TEST_F(CommSettings, ControlBlockCarriesEverySetting)
{
    OpenWith([](TXComm& c) {
        c.SetBaudRate(br4800);
        c.GetDataControl().SetDataBits(db7);
        c.GetDataControl().SetParity(paMark);
        c.GetDataControl().SetStopBits(sb1p5);
        c.GetEventChars().SetXonChar(0x21);
        c.GetEventChars().SetEofChar(0x1A);
        c.GetEventChars().SetErrorChar(0x3F);
    });
    const SDeviceControlBlock d = LastApplied();
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 4800u);
    EXPECT_EQ(d.XonLim, 512);  // InputSize 2048 / 4
    EXPECT_EQ(d.XoffLim, 512);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.Parity, 3);
    EXPECT_EQ(d.StopBits, 1);
    EXPECT_EQ(d.XonChar, 0x21);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.EofChar, 0x1A);
    EXPECT_EQ(d.ErrorChar, 0x3F);
    EXPECT_EQ(d.EvtChar, 0x0A);
    // An open port reports what the device holds.
    EXPECT_EQ(comm.GetDataControl().GetParity(), paMark);
    EXPECT_EQ(comm.GetEventChars().GetXonChar(), 0x21);
}

TEST_F(CommSettings, OpenPortReadsTheHandshakeBackFromTheDevice)
{
    OpenWith([](TXComm& c) { c.SetCommOptions({coLeaveDTROpen}); });
    EXPECT_EQ(comm.GetFlowControl(), fcCustom);  // fBinary + DTR on is no preset
    EXPECT_EQ(comm.GetDTRSettings(), fsEnable);
    EXPECT_EQ(comm.GetCommOptions(), TCommOptions{coLeaveDTROpen});

    comm.SetCommOptions({coParityCheck, coAbortOnError});
    EXPECT_EQ(comm.GetFlowControl(), fcNone);  // the device reads fBinary back
    comm.SetFlowControl(fcCTS);
    EXPECT_EQ(comm.GetFlowControl(), fcCTS);  // option bits do not hide the preset
    EXPECT_EQ(comm.GetCTSSettings(), fsToggle);
    EXPECT_EQ(comm.GetCommOptions(), (TCommOptions{coParityCheck, coAbortOnError}));

    {
        auto lk = pl.Lock();
        port.stateUnreadable = true;
    }
    comm.SetFlowControl(fcDTR);  // stored (and applied), but the device cannot be asked
    EXPECT_EQ(comm.GetFlowControl(), fcDTR);
    EXPECT_EQ(comm.GetDTRSettings(), fsToggle);
}

TEST_F(CommSettings, PresetsSetTheLineControlsAndCustomOnesWaitForFcCustom)
{
    comm.SetCTSSettings(fsHandshake);  // ignored: not fcCustom
    EXPECT_EQ(comm.GetCTSSettings(), fsDisable);
    comm.SetFlowControl(fcCTS);
    EXPECT_EQ(comm.GetCTSSettings(), fsToggle);
    EXPECT_EQ(comm.GetDTRSettings(), fsDisable);
    comm.SetFlowControl(fcCustom);  // keeps what the preset left
    EXPECT_EQ(comm.GetCTSSettings(), fsToggle);
    comm.SetDTRSettings(fsHandshake);
    EXPECT_EQ(comm.GetDTRSettings(), fsHandshake);
    comm.SetFlowControl(fcDTR);
    EXPECT_EQ(comm.GetCTSSettings(), fsDisable);
    EXPECT_EQ(comm.GetDTRSettings(), fsToggle);
    comm.SetFlowControl(fcSoftware);
    EXPECT_EQ(comm.GetDTRSettings(), fsDisable);
}

TEST_F(CommSettings, BaudValueFollowsTheRateUnlessCustom)
{
    comm.SetBaudValue(19200);  // ignored: br9600 is not custom
    EXPECT_EQ(comm.GetBaudValue(), 9600u);
    comm.SetBaudRate(brCustom);
    EXPECT_EQ(comm.GetBaudValue(), 9600u);  // keeps the previous value
    comm.SetBaudValue(31250);
    EXPECT_EQ(comm.GetBaudValue(), 31250u);
    comm.OpenDevice();
    EXPECT_EQ(LastApplied().BaudRate, 31250u);
    EXPECT_EQ(comm.GetBaudRate(), brCustom);

    comm.SetBaudRate(br115200);  // applies at once on an open port
    EXPECT_EQ(LastApplied().BaudRate, 115200u);
    EXPECT_EQ(comm.GetBaudRate(), br115200);
    const size_t n = Applies();
    comm.SetBaudRate(br115200);  // unchanged: not applied again
    EXPECT_EQ(Applies(), n);

    {
        auto lk = pl.Lock();
        port.takesRate = 57600;  // the device runs at another rate than asked
    }
    EXPECT_EQ(comm.GetBaudValue(), 57600u);
    EXPECT_EQ(comm.GetBaudRate(), br57600);
}

TEST_F(CommSettings, QueueSizesAreClampedAndAppliedWithAPurge)
{
    auto& b = comm.GetBuffers();
    b.SetInputSize(10);
    EXPECT_EQ(b.GetInputSize(), 128);
    b.SetInputSize(60000);
    EXPECT_EQ(b.GetInputSize(), 8192);
    b.SetOutputSize(-3);
    EXPECT_EQ(b.GetOutputSize(), 128);
    b.SetSize(2, 1000);  // no such queue
    EXPECT_EQ(b.GetSize(2), 0);

    b.SetInputSize(2048);
    b.SetOutputSize(1024);
    comm.OpenDevice();
    {
        auto lk = pl.Lock();
        ASSERT_EQ(port.queueRequests.size(), 1u);
        EXPECT_EQ(port.queueRequests[0], std::make_pair(2048u, 1024u));
        EXPECT_EQ(port.purges.back(), 15u);  // all four queues
    }
    b.SetInputSize(4096);
    {
        auto lk = pl.Lock();
        ASSERT_EQ(port.queueRequests.size(), 2u);
        EXPECT_EQ(port.queueRequests[1].first, 4096u);
        port.rxQueue = 3000;  // what the device says it has
    }
    EXPECT_EQ(b.GetInputSize(), 3000);
    b.SetInputSize(4096);  // same as stored: nothing happens
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.queueRequests.size(), 2u);
    }
    comm.UpdateDCB();
    EXPECT_EQ(LastApplied().XonLim, 1024);  // from the stored size
}

TEST_F(CommSettings, UpdateBracketAppliesOnceAtTheEnd)
{
    comm.OpenDevice();
    const size_t dcbs = Applies();
    EXPECT_FALSE(comm.EndUpdate());  // no bracket open
    EXPECT_EQ(Applies(), dcbs);

    comm.BeginUpdate();
    comm.SetBaudRate(br19200);
    comm.GetDataControl().SetParity(paEven);
    comm.GetBuffers().SetInputSize(1024);
    comm.GetEventChars().SetEventChar(0x0D);
    EXPECT_EQ(Applies(), dcbs);
    EXPECT_TRUE(comm.EndUpdate());
    EXPECT_EQ(Applies(), dcbs + 1);
    const SDeviceControlBlock d = LastApplied();
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.Parity, 2);
    EXPECT_EQ(d.EvtChar, 0x0D);
    auto lk = pl.Lock();
    EXPECT_EQ(port.queueRequests.size(), 2u);  // opening, then the bracket
}

TEST_F(CommSettings, ClosedPortRefusesWithCodeOne)
{
    uint8_t buf[4];
    std::string s;
    const std::vector<std::pair<const char*, std::function<void()>>> ops = {
        {"UpdateDCB", [&] { comm.UpdateDCB(); }},
        {"UpdateBuffers", [&] { comm.UpdateBuffers(); }},
        {"CloseDevice", [&] { comm.CloseDevice(); }},
        {"BeginUpdate", [&] { comm.BeginUpdate(); }},
        {"EndUpdate", [&] { comm.EndUpdate(); }},
        {"PurgeIn", [&] { comm.PurgeIn(); }},
        {"PurgeOut", [&] { comm.PurgeOut(); }},
        {"GetCount", [&] { comm.GetCount(0); }},
        {"GetCommStatus", [&] { comm.GetCommStatus(); }},
        {"GetMaxBaud", [&] { comm.GetMaxBaud(); }},
        {"ToggleBreak", [&] { comm.ToggleBreak(brSet); }},
        {"ToggleDTR", [&] { comm.ToggleDTR(brSet); }},
        {"ToggleRTS", [&] { comm.ToggleRTS(brClear); }},
        {"ToggleXonXoff", [&] { comm.ToggleXonXoff(brSet); }},
        {"SendData", [&] { comm.SendData(buf, 1); }},
        {"SendByte", [&] { comm.SendByte(1); }},
        {"ReadData", [&] { comm.ReadData(buf, 1); }},
        {"ReadString", [&] { comm.ReadString(s); }},
        {"WaitForString", [&] { comm.WaitForString({"OK"}, 10); }},
    };
    for (const auto& [name, op] : ops) {
        std::string msg;
        EXPECT_EQ(CodeOf(op, &msg), 1) << name;
        EXPECT_EQ(msg, "Устройство не открыто.") << name;
    }
    EXPECT_EQ(comm.GetTotalReceived(), 0u);
    EXPECT_TRUE(comm.GetLocked());
    bool data = false;
    comm.OnData = [&](TObject*, uint32_t) { data = true; };
    comm.HandleEvents({deChar});
    EXPECT_FALSE(data);
}

TEST_F(CommSettings, OpeningFailuresAndTheirCodes)
{
    TXComm missing(nullptr, &pl);
    missing.SetDeviceName("COM3");
    std::string msg;
    EXPECT_EQ(CodeOf([&] { missing.OpenDevice(); }, &msg), 65535);
    EXPECT_EQ(msg, "Не возможно открыть устройство COM3");
    EXPECT_FALSE(missing.GetOpened());

    comm.OpenDevice();
    EXPECT_EQ(CodeOf([&] { comm.OpenDevice(); }, &msg), 2);
    EXPECT_EQ(msg, "Устройство уже открыто.");
    TXComm second(nullptr, &pl);  // the same device, already in use
    EXPECT_EQ(CodeOf([&] { second.OpenDevice(); }), 65535);
    comm.CloseDevice();
    EXPECT_FALSE(comm.GetOpened());

    {
        auto lk = pl.Lock();
        port.refuseState = true;
    }
    EXPECT_EQ(CodeOf([&] { comm.OpenDevice(); }, &msg), 3);
    EXPECT_EQ(msg, "Не возможно обновить контрольный блок устройства.");
    EXPECT_TRUE(comm.GetOpened());  // left open for the caller to close
    comm.CloseDevice();
    {
        auto lk = pl.Lock();
        port.refuseState = false;
        port.refuseQueues = true;
    }
    EXPECT_EQ(CodeOf([&] { comm.OpenDevice(); }, &msg), 6);
    EXPECT_EQ(msg, "Не возможно обновить буфер в.в.");
}

TEST_F(CommSettings, OpeningSetsTimeoutsAndPrintersGetNoLineSettings)
{
    comm.OpenDevice();
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
        EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 0u);
        EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, 1000u);
        EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, 1500u);
    }
    comm.SetDeviceName("COM9");  // ignored while open
    EXPECT_EQ(comm.GetDeviceName(), "COM2");

    FakePort& lpt = pl.AddPort("lpt1");
    TXComm printer(nullptr, &pl);
    printer.SetDeviceName("lpt1");
    printer.OpenDevice();
    auto lk = pl.Lock();
    EXPECT_TRUE(lpt.applied.empty());
    EXPECT_TRUE(lpt.queueRequests.empty());
    EXPECT_EQ(lpt.timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(lpt.timeouts.WriteTotalTimeoutConstant, 1u);
}

TEST_F(CommSettings, SettingsObjectsAssignByValueAndRefuseOtherKinds)
{
    comm.OpenDevice();
    const size_t n = Applies();
    TCommDataControl other;
    other.SetDataBits(db7);
    other.SetParity(paEven);
    other.SetStopBits(sb2);
    comm.SetDataControl(other);
    EXPECT_EQ(Applies(), n + 1);
    EXPECT_EQ(LastApplied().ByteSize, 7);
    EXPECT_EQ(LastApplied().Parity, 2);
    EXPECT_EQ(LastApplied().StopBits, 2);

    TCommBuffers buffers;
    buffers.SetInputSize(512);
    buffers.SetInputTimeout(40);
    comm.SetBuffers(buffers);
    EXPECT_EQ(comm.GetBuffers().GetInputTimeout(), 40);
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.queueRequests.back().first, 512u);
    }

    // A copy taken from an open port holds what its device reports.
    {
        auto lk = pl.Lock();
        port.dcb.XonChar = 0x55;
    }
    TCommEventChars chars;
    chars.Assign(comm.GetEventChars());
    EXPECT_EQ(chars.GetXonChar(), 0x55);

    try {
        comm.SetDataControl(buffers);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TCommBuffers to a TCommDataControl");
    }
}

TEST_F(CommSettings, LineFunctionsStatusAndCounts)
{
    comm.OpenDevice();
    comm.ToggleBreak(brSet);
    comm.ToggleBreak(brClear);
    comm.ToggleDTR(brSet);
    comm.ToggleDTR(brClear);
    comm.ToggleRTS(brSet);
    comm.ToggleRTS(brClear);
    comm.ToggleXonXoff(brClear);
    comm.ToggleXonXoff(brSet);
    {
        auto lk = pl.Lock();
        EXPECT_EQ(port.escapes, (std::vector<uint32_t>{8, 9, 5, 6, 3, 4, 1, 2}));
        port.statusFlags = 0x101;  // only the low byte is status
    }
    EXPECT_EQ(comm.GetCommStatus(), TCommStatus{csCTSHold});
    // The system's maximum-rate bits, as it reports them; 128K, 115200 and 57600 stand out of order.
    const std::pair<uint32_t, TBaudRate> maxRates[] = {
        {0x10, br300},     {0x20, br600},      {0x40, br1200},      {0x80, br1200},
        {0x100, br2400},   {0x200, br4800},    {0x400, br4800},     {0x800, br9600},
        {0x1000, br14400}, {0x2000, br19200},  {0x4000, br38400},   {0x8000, br56000},
        {0x10000, br128000}, {0x20000, br115200}, {0x40000, br57600}, {0x10000000, brCustom},
        {0x1, br110},      {0x2, br110},       {0x12, br110},       {0, br110},
    };
    for (const auto& [bits, rate] : maxRates) {
        {
            auto lk = pl.Lock();
            port.maxBaud = bits;
        }
        EXPECT_EQ(comm.GetMaxBaud(), rate) << std::hex << bits;
    }

    pl.Feed("COM2", "abcde");
    EXPECT_EQ(comm.GetCount(0), 5u);
    EXPECT_EQ(comm.GetCount(7), 0u);
    EXPECT_TRUE(comm.PurgeIn());
    EXPECT_EQ(comm.GetCount(0), 0u);
    EXPECT_EQ(comm.GetTotalReceived(), 5u);  // purged bytes count as taken out
    pl.Feed("COM2", "xy");
    EXPECT_EQ(comm.GetTotalReceived(), 7u);
    comm.CloseDevice();
    comm.OpenDevice();
    EXPECT_EQ(comm.GetTotalReceived(), 2u);  // counts start again at every opening
}
