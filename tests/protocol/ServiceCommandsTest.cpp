// The service requests: their exact frames, the answer each one awaits, the refused counts, and the
// device name tables.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EngineFixture.h"

namespace rv::test {
namespace {

using Bytes = std::vector<uint8_t>;

class ServiceCommands : public EngineTest {
protected:
    // The frame the request put on the line.
    Bytes Sent()
    {
        Send();
        const auto frames = link.Frames();
        return frames.empty() ? Bytes{} : frames.back();
    }
};

TEST_F(ServiceCommands, FramesMatchTheLineExamples)
{
    engine.GetDeviceID();
    EXPECT_EQ(Sent(), (Bytes{0xC9, 0x01, 0x0F, 0xF0, 0xC9, 0x01}));
    EXPECT_EQ(link.lengthPacket, 19);

    engine.ReadFlash(0x1234, 100);
    EXPECT_EQ(Sent(), (Bytes{0xC9, 0x04, 0x30, 0x34, 0x12, 0x64, 0xF0, 0x97, 0x02}));
    EXPECT_EQ(link.lengthPacket, 2);

    const uint8_t data[] = {0xAA, 0xBB};
    engine.WriteFlashF149(0x1234, 2, data);
    EXPECT_EQ(Sent(), (Bytes{0xCA, 0x06, 0x5A, 0x02, 0x34, 0x12, 0xAA, 0xBB, 0xF0, 0xC7, 0x03}));
    EXPECT_EQ(link.lengthPacket, 1);

    engine.GetModuleCounter(0x1000);
    EXPECT_EQ(Sent(), (Bytes{0xC9, 0x01, 0x08, 0xF0, 0xC2, 0x01}));
    EXPECT_EQ(link.lengthPacket, 6);
    EXPECT_EQ(link.receiveType, rtPacket);
}

TEST_F(ServiceCommands, ParametersFollowTheCommandInFrameOrder)
{
    struct Case {
        const char* name;
        std::function<void()> request;
        Bytes body;  // command and parameters
        int answer;
    };
    const uint8_t w[] = {1, 2, 3};
    SNextTime time;
    for (size_t i = 0; i < SNextTime::kSize; ++i) time.Bytes[i] = static_cast<uint8_t>(0xE0 + i);
    Bytes timeBody{0x51};
    timeBody.insert(timeBody.end(), time.Bytes, time.Bytes + SNextTime::kSize);
    const std::vector<Case> cases = {
        {"ReadRAM", [&] { engine.ReadRAM(0xBEEF, 7); }, {0x10, 0xEF, 0xBE, 7}, 2},
        {"WriteRAM", [&] { engine.WriteRAM(0x0102, 3, w); }, {0x20, 0x02, 0x01, 3, 1, 2, 3}, 1},
        {"ReadFlashLarge", [&] { engine.ReadFlashLarge(0x00074458, 250); }, {0x31, 0x58, 0x44, 0x07, 0x00, 250}, 2},
        {"WriteFlash", [&] { engine.WriteFlash(0x0300, 3, w); }, {0x40, 0x00, 0x03, 3, 1, 2, 3}, 1},
        {"WriteFlashLarge",
         [&] { engine.WriteFlashLarge(0x01020304, 3, w); },
         {0x41, 0x04, 0x03, 0x02, 0x01, 3, 1, 2, 3},
         1},
        {"SetPassword", [&] { engine.SetPassword(0xA1B2C3D4); }, {0x50, 0xD4, 0xC3, 0xB2, 0xA1}, 1},
        {"IDCOMAND", [&] { engine.IDCOMAND(0xA1B2C3D4); }, {0x50, 0xD4, 0xC3, 0xB2, 0xA1}, 1},
        {"SetTime", [&] { engine.SetTime(&time); }, timeBody, 1},
        {"KeyPress", [&] { engine.KeyPress(0x81); }, {0x53, 0x81}, 1},
        {"GetDisplayData", [&] { engine.GetDisplayData(); }, {0x54}, 2},
        {"ClearFlashF149", [&] { engine.ClearFlashF149(); }, {0x55}, 1},
        {"GetCtrSUM", [&] { engine.GetCtrSUM(0x1234); }, {0x07, 0x34, 0x12}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.request();
        const Bytes frame = Sent();
        ASSERT_EQ(frame.size(), c.body.size() + 5);
        EXPECT_EQ(frame[0], kSlave);
        EXPECT_EQ(frame[1], c.body.size());
        EXPECT_EQ(Bytes(frame.begin() + 2, frame.end() - 3), c.body);
        EXPECT_EQ(frame[frame.size() - 3], kMaster);
        EXPECT_EQ(GetU16(frame.data() + frame.size() - 2),
                  CRC(frame.data(), static_cast<unsigned char>(frame.size() - 2)));
        EXPECT_EQ(link.lengthPacket, c.answer);
    }
    // SetTime sends 26 bytes whatever the record holds.
    engine.SetTime(&time);
    EXPECT_EQ(Sent().size(), 26u);
}

TEST_F(ServiceCommands, WritesCopyTheCallersDataWhenCalled)
{
    uint8_t data[] = {0x11, 0x22};
    engine.WriteRAM(0x10, 2, data);
    data[0] = 0x99;
    const Bytes frame = Sent();
    EXPECT_EQ(frame[6], 0x11);
}

TEST_F(ServiceCommands, CountsBeyondAFrameAreRefusedBeforeAnythingChanges)
{
    std::vector<uint8_t> data(255, 0x55);
    engine.ReadFlash(0x1000, 10);
    Send();
    const size_t before = link.writes.size();
    const int lengthBefore = link.lengthPacket;

    auto message = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EProtocolError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(message([&] { engine.WriteRAM(0, 247, data.data()); }).find("WriteRAM"), std::string::npos);
    EXPECT_NE(message([&] { engine.WriteFlash(0, 247, data.data()); }).find("246"), std::string::npos);
    EXPECT_NE(message([&] { engine.WriteFlashF149(0, 247, data.data()); }).find("WriteFlashF149"), std::string::npos);
    EXPECT_NE(message([&] { engine.WriteFlashLarge(0, 245, data.data()); }).find("244"), std::string::npos);
    EXPECT_NE(message([&] { engine.ReadRAM(0, 251); }).find("250"), std::string::npos);
    EXPECT_NE(message([&] { engine.ReadFlashLarge(0, 255); }).find("ReadFlashLarge"), std::string::npos);
    EXPECT_FALSE(message([&] { engine.WriteRAM(0, 4, nullptr); }).empty());
    EXPECT_FALSE(message([&] { engine.SetTime(nullptr); }).empty());
    loop.RunFor(100);
    EXPECT_EQ(link.writes.size(), before);
    EXPECT_EQ(link.lengthPacket, lengthBefore);

    // The largest counts still fit: 246 + 9 and 244 + 11 are 255-byte frames.
    engine.WriteFlash(0, 246, data.data());
    EXPECT_EQ(Sent().size(), 255u);
    engine.WriteFlashLarge(0, 244, data.data());
    EXPECT_EQ(Sent().size(), 255u);
}

TEST_F(ServiceCommands, RequestWithoutALinkIsAClearError)
{
    TRurIvaQs lonely(nullptr, &loop);
    EXPECT_THROW(lonely.GetDeviceID(), EProtocolError);
    EXPECT_FALSE(lonely.Initialization());
}

TEST_F(ServiceCommands, ModuleCounterOnlyForDevicesWithModules)
{
    std::vector<int> counts;
    engine.OnReceiveModuleCounter = [&](int n) { counts.push_back(n); };
    engine.GetModuleCounter(0x0700);
    EXPECT_EQ(counts, std::vector<int>{0});  // raised inside the call
    loop.RunFor(200);
    EXPECT_EQ(link.writes.size(), 0u);

    EXPECT_TRUE(TRurIvaQs::Multic(0x10FF));
    EXPECT_TRUE(TRurIvaQs::Multic(0x1400));
    EXPECT_TRUE(TRurIvaQs::Multic(0x0B00));
    EXPECT_FALSE(TRurIvaQs::Multic(0x0800));
    EXPECT_TRUE(TRurIvaQs::IncludeDevices(0x08AB));
    EXPECT_FALSE(TRurIvaQs::IncludeDevices(0x1000));
}

TEST(DeviceNames, TypeAndConditionByHighByte)
{
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x1000), "Тепловодосчетчик VexaМ V1.X");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x10FF), "Тепловодосчетчик VexaМ V1.X");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x1400), "Тепловодосчетчик VexaМ V2.X");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x1500), "Не определенный тип.");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0xFFFF), "Не определенный тип.");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x0300), "Не определен.");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x1300), "Не определен.");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x0800), "Адаптер KaduA V1.X");
    EXPECT_STREQ(TRurIvaQs::GetDeviceTypeStr(0x1200), "Сервисное устройство VexaМА");

    EXPECT_STREQ(TRurIvaQs::GetDeviceConditionStr(0x0000), "OK");
    EXPECT_STREQ(TRurIvaQs::GetDeviceConditionStr(0x01FF), "Warning");
    EXPECT_STREQ(TRurIvaQs::GetDeviceConditionStr(0x0300), "Stopped");
    EXPECT_STREQ(TRurIvaQs::GetDeviceConditionStr(0x0400), "Не определенное состояние.");
    EXPECT_STREQ(TRurIvaQs::GetDeviceConditionStr(0xFF00), "Не определенное состояние.");
}

}  // namespace
}  // namespace rv::test
