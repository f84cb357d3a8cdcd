// The KFS page and its window against the simulated meter in virtual time: the write of one and of three
// coefficients with their journal records in both layouts, checked against the whole flash image; the
// correction-mode question; refused and unconfirmed writes; fields that hold no usable number; a disconnect in
// the middle of a write; and indexes from the meter that would address outside a record.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/KfsRig.h"
#include "meter/TRurIvaQs_6x6.h"

namespace rv::test {
namespace {

using sim::layout::SensorAddress;
constexpr uint32_t kJournal = sim::layout::kEventJournal;
constexpr uint8_t kIdentity = 0x0F;
constexpr uint8_t kReadRam = 0x10;
constexpr uint8_t kReadFlashLarge = 0x31;
constexpr uint8_t kWriteFlashLarge = 0x41;
constexpr uint8_t kSaveData = 0x80;
const char kCorrectionQuestion[] = "Войдите в режим <Kоррекция>";

// The flash as it must be after a write: the image before it with exactly these blocks changed.
Bytes Expected(Bytes flash, const std::vector<std::pair<uint32_t, Bytes>>& blocks)
{
    for (const auto& [at, bytes] : blocks) std::copy(bytes.begin(), bytes.end(), flash.begin() + at);
    return flash;
}

Bytes Record(uint8_t module, uint8_t type, uint32_t flags, float oldValue, float newValue, bool layout2)
{
    Bytes r = {0x90, module, type, 1, 0, 0, 0, 0};
    PutU32(r.data() + 4, flags);
    const Bytes o = F32Bytes(oldValue), n = F32Bytes(newValue);
    r.insert(r.end(), o.begin(), o.end());
    r.insert(r.end(), n.begin(), n.end());
    if (layout2) r.insert(r.end(), {0, 0});
    return r;
}

Bytes Head(uint16_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

std::vector<uint8_t> Commands(const KfsRig& rig)
{
    std::vector<uint8_t> out;
    for (const auto& s : rig.Requests()) out.push_back(s.command);
    return out;
}

// --- Reading and showing

TEST(KfsPage, ConnectReadsTheRecordsAndShowsTheChosenCoefficient)
{
    CommaSeparator comma;
    KfsRig rig;
    rig.prompter.sensor = 1;
    rig.Connect("COM3");
    EXPECT_EQ(rig.line.GetCommNet(), "COM3");
    EXPECT_FALSE(rig.View().ComboBox1Enabled);
    EXPECT_FALSE(rig.main.View().TabSheet1Visible);
    EXPECT_FALSE(rig.main.View().TabSheet1Enabled);
    EXPECT_TRUE(rig.main.View().TabSheet2Visible);
    EXPECT_FALSE(rig.View().Button2Visible);
    ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsShowing; }));

    EXPECT_EQ(rig.statuses,
              (std::vector<std::string>{"Чтение конфигурации прибора.", "Чтение инвормации датчиков.", "OK"}));
    ASSERT_EQ(rig.prompter.Count("choose"), 1);
    EXPECT_EQ(rig.prompter.Of("choose")[0].caption, "Выбор датчика для изменеия");
    EXPECT_EQ(rig.prompter.choices.size(), 4u);
    EXPECT_EQ(rig.form1.Fields().SoftwareVersion, 203);
    EXPECT_EQ(rig.form1.Fields().SelectedSensor, 1);

    const SKfsPageView& v = rig.View();
    EXPECT_EQ(v.Label[0].Caption, "Модуль №1 FSA Диаметр 0,032");
    EXPECT_EQ(v.EditDigital[0].Text, "0,9987000");
    EXPECT_FALSE(v.Label[1].Visible);
    EXPECT_FALSE(v.EditDigital[2].Visible);
    EXPECT_TRUE(v.Button2Visible);
    EXPECT_FLOAT_EQ(rig.form1.Fields().OldKfs[2], 0.9987f);

    // Of each sensor record only bytes 0..199 are kept: the third answer of each is dropped.
    for (const TSensorImage& s : rig.form1.SensorImage())
        for (size_t i = TForm1Controller::kSensorBytesKept; i < s.size(); ++i) ASSERT_EQ(s[i], 0) << i;
    EXPECT_EQ(rig.form1.SensorImage()[1][120], 1);

    rig.Disconnect();
    EXPECT_FALSE(rig.line.GetOpen());
    EXPECT_TRUE(rig.View().ComboBox1Enabled);
    EXPECT_FALSE(rig.View().Button2Visible);
    EXPECT_TRUE(rig.main.View().TabSheet1Visible);
    EXPECT_TRUE(rig.main.View().TabSheet2Visible);
    EXPECT_EQ(rig.main.View().ActivePage, 1);
}

TEST(KfsPage, ThreePathSensorShowsThreeCoefficientsAndThePortIndexFollowsTheBox)
{
    CommaSeparator comma;
    KfsRig rig(ThreePath());
    rig.page.SetComboBox1ItemIndex(2);
    rig.page.ComboBox1Change();
    EXPECT_EQ(rig.form1.View().CBPortNameText, "COM3");
    ASSERT_TRUE(rig.ConnectToShowing());
    EXPECT_EQ(rig.prompter.choices.size(), 2u);  // positions 0 and 3
    const SKfsPageView& v = rig.View();
    for (int j = 0; j < 3; ++j) {
        EXPECT_TRUE(v.Label[static_cast<size_t>(j)].Visible);
        EXPECT_TRUE(v.EditDigital[static_cast<size_t>(j)].Visible);
        EXPECT_EQ(v.Label[static_cast<size_t>(j)].Caption, "Модуль №1 FSC Диаметр 0,150: KFS " + std::to_string(j + 1));
    }
    EXPECT_EQ(v.EditDigital[1].Text, "0,9978000");
    EXPECT_EQ(v.EditDigital[2].Text, "1,0043000");
    EXPECT_EQ(rig.form1.CoefficientCount(), 3);
}

TEST(KfsPage, FailuresOfTheLineAndOfTheConfiguration)
{
    {
        KfsRig rig;
        rig.line.SetRefuseOpen("порт занят");
        rig.Connect("COM4");
        ASSERT_EQ(rig.prompter.Count("message"), 1);
        EXPECT_EQ(rig.prompter.Of("message")[0].text, "Невозможно открыть порт COM4: порт занят");
        EXPECT_FALSE(rig.View().SpeedButton2Down);
        EXPECT_TRUE(rig.View().ComboBox1Enabled);
        EXPECT_TRUE(rig.main.View().TabSheet1Visible);
    }
    {
        // A silent meter: the repetitions are counted on the status line.
        KfsRig rig;
        rig.meter.SetCommandHandler(kIdentity,
                                    [](sim::SimMeter&, const sim::Request&) { return sim::Answer::Silent(); });
        rig.Connect();
        rig.RunUntil([&] { return rig.statuses.size() >= 3; });
        EXPECT_EQ(rig.statuses, (std::vector<std::string>{"Переповторы 1", "Переповторы 2", "Переповторы 3"}));
    }
    {
        // Two paths per sensor has no meaning: no choice is offered and nothing can be written.
        sim::MeterDescription d = sim::DefaultDescription();
        d.pathsPerSensor = 2;
        KfsRig rig(d);
        rig.Connect();
        ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsStopped; }));
        EXPECT_EQ(rig.prompter.Count("choose"), 0);
        EXPECT_NE(rig.form1.StopReason().find("путей"), std::string::npos);
        EXPECT_FALSE(rig.View().Button2Visible);
    }
}

// --- Writing

TEST(KfsWrite, OnePathSensorWritesOneFloatOneTextOneSaveAndOneJournalRecord)
{
    CommaSeparator comma;
    KfsRig rig;
    rig.image->SetCorrectionMode(true);
    rig.prompter.sensor = 1;
    ASSERT_TRUE(rig.ConnectToShowing());
    const Bytes flash = rig.image->flash.Bytes();
    const Bytes ram = rig.image->ram.Bytes();
    rig.line.ClearLog();
    rig.statuses.clear();

    rig.Type(0, "1,0050");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();

    // Identity; float, text, save; pointer table, flag words, head, record, head; four reads back.
    EXPECT_EQ(Commands(rig),
              (std::vector<uint8_t>{kIdentity, kWriteFlashLarge, kWriteFlashLarge, kSaveData, kReadFlashLarge, kReadRam,
                                    kReadFlashLarge, kWriteFlashLarge, kWriteFlashLarge, kReadFlashLarge,
                                    kReadFlashLarge, kReadFlashLarge, kReadFlashLarge}));
    EXPECT_EQ(rig.SavedChannels(), std::vector<int>{2});
    const uint32_t slot2 = kJournal + 16 + 18 * 2;  // head 2 of journal 0, layout 2
    const std::vector<std::pair<uint32_t, Bytes>> blocks = {
        {SensorAddress(1) + 178, F32Bytes(1.005f)},
        {SensorAddress(1) + 160, TextField("1,0050")},
        {slot2, Record(0, 0, 0x105, 0.9987f, 1.005f, true)},
        {kJournal, Head(3)},
    };
    const auto writes = rig.FlashWrites();
    ASSERT_EQ(writes.size(), blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(writes[i].address, blocks[i].first) << i;
        EXPECT_EQ(writes[i].data, blocks[i].second) << i;
    }
    EXPECT_EQ(rig.image->flash.Bytes(), Expected(flash, blocks));
    EXPECT_EQ(rig.image->ram.Bytes(), ram);

    const auto messages = rig.prompter.Of("message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Произведено изменение\n КFS с 0,9987000 на 1,0050000");
    EXPECT_EQ(messages[0].caption, "Внимание");
    EXPECT_EQ(rig.statuses, (std::vector<std::string>{"Запись измененной информации.", "OK"}));
    EXPECT_FLOAT_EQ(rig.form1.Fields().OldKfs[0], 1.005f);
    EXPECT_TRUE(rig.View().Button2Enabled);

    // A second change journals the first one's value as the old one.
    rig.line.ClearLog();
    rig.Type(0, "1.0050001");  // a point works as well; the text goes as typed, all nine characters
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
    const auto again = rig.FlashWrites();
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[1].data, TextField("1.0050001"));
    EXPECT_EQ(again[2].address, slot2 + 18);
    EXPECT_EQ(again[2].data, Record(0, 0, 0x105, 1.005f, 1.0050001f, true));
    EXPECT_EQ(again[3].data, Head(4));
}

TEST(KfsWrite, ThreePathSensorWritesThreeOfEachAndSaysSoInThreeLines)
{
    CommaSeparator comma;
    KfsRig rig(ThreePath());
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    const Bytes flash = rig.image->flash.Bytes();
    rig.line.ClearLog();

    rig.Type(0, "1,0100");
    rig.Type(1, "0,9990");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();

    EXPECT_EQ(rig.SavedChannels(), (std::vector<int>{1, 2, 3}));
    const float olds[3] = {1.0021f, 0.9978f, 1.0043f};
    const float news[3] = {1.01f, 0.999f, 1.0043f};
    const char* texts[3] = {"1,0100", "0,9990", "1,0043000"};
    std::vector<std::pair<uint32_t, Bytes>> blocks;
    for (int i = 0; i < 3; ++i) blocks.push_back({SensorAddress(i) + 178, F32Bytes(news[i])});
    for (int i = 0; i < 3; ++i) blocks.push_back({SensorAddress(i) + 160, TextField(texts[i])});
    // Head 17 of journal 0, layout 1: slots 1, 2, 3, the head written back after each record.
    for (int i = 0; i < 3; ++i) {
        blocks.push_back(
            {kJournal + 16 + 16 * static_cast<uint32_t>(i + 1), Record(0, 2, 0x207, olds[i], news[i], false)});
        blocks.push_back({kJournal, Head(static_cast<uint16_t>(18 + i))});
    }
    const auto writes = rig.FlashWrites();
    ASSERT_EQ(writes.size(), blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(writes[i].address, blocks[i].first) << i;
        EXPECT_EQ(writes[i].data, blocks[i].second) << i;
    }
    EXPECT_EQ(rig.image->flash.Bytes(), Expected(flash, blocks));
    // Each record re-reads the pointer table, the flag words and the head (layout 1: at journal + 0).
    EXPECT_EQ(rig.Requests(kReadRam).size(), 3u);
    ASSERT_EQ(rig.prompter.Count("message"), 1);
    // The coefficient that kept its value is written and journaled, but not named as a change.
    EXPECT_EQ(rig.prompter.Of("message")[0].text,
              "Произведено изменение\n КFS1 с 1,0021000 на 1,0100000\n КFS2 с 0,9978000 на 0,9990000\n");
}

class KfsJournalLayout : public ::testing::TestWithParam<int> {};

TEST_P(KfsJournalLayout, VersionSelectsTheRecordLayoutAndItsPlace)
{
    const int version = GetParam();
    const bool layout2 = version >= 200;
    sim::MeterDescription d = sim::DefaultDescription();
    d.softwareVersion = static_cast<uint16_t>(version);
    d.modules = {{1, 7, 2}, {2, 3, 1}};
    d.sensors[0]->module = 2;
    d.sensors[0]->type = 2;
    d.journals = {{1, int16_t{29}, {}}};  // slot 13
    KfsRig rig(d);
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    const Bytes flash = rig.image->flash.Bytes();
    rig.line.ClearLog();
    rig.Type(0, "1,2");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();

    // Both layouts read the head of journal 1 at journal + 2.
    const auto reads = rig.Requests(kReadFlashLarge);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(GetU32(reads[1].params.data()), kJournal + 2);
    EXPECT_EQ(reads[1].params[4], 2);
    const uint32_t at = layout2 ? kJournal + 16 + 288 + 18 * 13 : kJournal + 16 + 256 + 16 * 13;
    const std::vector<std::pair<uint32_t, Bytes>> blocks = {
        {SensorAddress(0) + 178, F32Bytes(1.2f)},
        {SensorAddress(0) + 160, TextField("1,2")},
        {at, Record(1, 1, 0x105, 1.0012f, 1.2f, layout2)},
        {kJournal + 2, Head(30)},
    };
    EXPECT_EQ(rig.image->flash.Bytes(), Expected(flash, blocks));
}

INSTANTIATE_TEST_SUITE_P(Versions, KfsJournalLayout, ::testing::Values(199, 200));

TEST(KfsWrite, JournalHead17PutsTheRecordInSlot1AndWrites18Back)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.journals[0].head = 17;
    KfsRig rig(d);
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    rig.line.ClearLog();
    rig.Type(0, "1,1");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone);
    const auto writes = rig.FlashWrites();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[2].address, kJournal + 16 + 18 * 1);
    EXPECT_EQ(rig.image->flash.U16(kJournal), 18);
    EXPECT_EQ(rig.form1.Fields().JournalHead, 18);
}

TEST(KfsWrite, MeterOutsideCorrectionModeIsAskedForItUntilTheTechnicianGivesUp)
{
    sim::MeterDescription d = sim::DefaultDescription();
    d.flashWrites = sim::FlashWrites::InCorrectionMode;
    {
        KfsRig rig(d);
        ASSERT_TRUE(rig.ConnectToShowing());
        const Bytes flash = rig.image->flash.Bytes();
        rig.line.ClearLog();
        rig.prompter.answers = {true, false};
        rig.Type(0, "1,1");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrCancelled);
        const auto questions = rig.prompter.Of("question");
        ASSERT_EQ(questions.size(), 2u);
        EXPECT_EQ(questions[0].text, kCorrectionQuestion);
        EXPECT_EQ(questions[0].caption, "Внимание.");
        EXPECT_EQ(Commands(rig), (std::vector<uint8_t>{kIdentity, kIdentity}));
        EXPECT_EQ(rig.image->flash.Bytes(), flash);
        EXPECT_EQ(rig.form1.Stage(), fsShowing);
    }
    {
        // Yes, and the technician switches the meter meanwhile: the write goes on.
        KfsRig rig(d);
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.prompter.answers = {true};
        rig.prompter.onQuestion = [&](bool) { rig.image->SetCorrectionMode(true); };
        rig.Type(0, "1,1");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
        EXPECT_EQ(rig.prompter.Count("question"), 1);
        EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(0) + 178), 1.1f);
    }
}

TEST(KfsWrite, WriteThatDidNotHappenIsNeverReportedDone)
{
    CommaSeparator comma;
    {
        // The meter acknowledges but keeps its old contents: the read-back names what differs.
        sim::MeterDescription d = sim::DefaultDescription();
        d.flashWrites = sim::FlashWrites::Ignore;
        KfsRig rig(d);
        rig.image->SetCorrectionMode(true);
        ASSERT_TRUE(rig.ConnectToShowing());
        const Bytes flash = rig.image->flash.Bytes();
        rig.Type(0, "1,0050");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrFailed);
        const auto messages = rig.prompter.Of("message");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "Ошибка");
        const std::string& text = messages[0].text;
        EXPECT_NE(text.find("КFS (число): записано 1,0050000, прочитано 1,0012000"), std::string::npos) << text;
        EXPECT_NE(text.find("КFS (текст): записано \"1,0050\", прочитано \"1,0012\""), std::string::npos) << text;
        EXPECT_NE(text.find("указатель журнала изменений модуля 1: записано 3, прочитано 2"), std::string::npos);
        EXPECT_NE(text.find("запись журнала изменений модуля 1 (ячейка 2)"), std::string::npos);
        EXPECT_FLOAT_EQ(rig.form1.Fields().OldKfs[0], 1.0012f);
        EXPECT_EQ(rig.statuses.back(), "Запись не подтверждена.");
        EXPECT_EQ(rig.image->flash.Bytes(), flash);
    }
    {
        // A refusal stops the write at once: nothing after it is sent.
        sim::MeterDescription d = sim::DefaultDescription();
        d.flashWrites = sim::FlashWrites::Refuse;
        KfsRig rig(d);
        rig.image->SetCorrectionMode(true);
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.line.ClearLog();
        rig.Type(0, "1,0050");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrFailed);
        EXPECT_EQ(Commands(rig), (std::vector<uint8_t>{kIdentity, kWriteFlashLarge}));
        EXPECT_EQ(rig.form1.WriteMessage(),
                  "Изменение KFS не выполнено: прибор отказал в записи: КFS (число) (ответ 0x00).");
        EXPECT_FLOAT_EQ(rig.form1.Fields().OldKfs[0], 1.0012f);
    }
    {
        // Refused in the journal: the message says what the meter already holds.
        KfsRig rig;
        rig.image->SetCorrectionMode(true);
        const sim::SimMeter::CommandHandler write = rig.meter.CommandHandlerFor(kWriteFlashLarge);
        rig.meter.SetCommandHandler(kWriteFlashLarge, [write](sim::SimMeter& m, const sim::Request& r) {
            if (r.paramCount >= 4 && GetU32(r.params) >= kJournal) return sim::Answer::Ack(sim::kAckRefused);
            return write(m, r);
        });
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.Type(0, "1,0050");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrFailed);
        EXPECT_EQ(rig.form1.WriteMessage(),
                  "Изменение KFS не выполнено: прибор отказал в записи: запись журнала изменений модуля 1 (ячейка 2) "
                  "(ответ 0x00).\nУже записано в прибор: КFS (число), КFS (текст).");
    }
    {
        // A refused save is not carried on to the read-back: the journal would record a change the meter did not
        // keep. The message names the refusal and what the meter holds already.
        KfsRig rig;
        rig.image->SetCorrectionMode(true);
        rig.meter.SetCommandHandler(kSaveData, [](sim::SimMeter&, const sim::Request&) {
            return sim::Answer::Ack(sim::kAckRefused);
        });
        ASSERT_TRUE(rig.ConnectToShowing());
        const uint16_t head = rig.image->flash.U16(kJournal);
        rig.line.ClearLog();
        rig.Type(0, "1,0050");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrFailed);
        EXPECT_EQ(Commands(rig), (std::vector<uint8_t>{kIdentity, kWriteFlashLarge, kWriteFlashLarge, kSaveData}));
        EXPECT_EQ(rig.form1.WriteMessage(),
                  "Изменение KFS не выполнено: прибор отказал в записи: сохранение канала 1 (ответ 0x00).\n"
                  "Уже записано в прибор: КFS (число), КFS (текст).");
        EXPECT_EQ(rig.image->flash.U16(kJournal), head);
    }
}

TEST(KfsWrite, FieldWithoutAUsableNumberStopsTheWriteBeforeAnythingIsSent)
{
    KfsRig rig;
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    const Bytes flash = rig.image->flash.Bytes();
    rig.line.ClearLog();
    for (const char* text : {"", "abc", "1,2,3", "0", "-1,5", "1000000000000000000000000000000000000000000"}) {
        rig.Type(0, text);
        rig.page.Button2Click();
        rig.RunUntil([] { return false; }, 100);
    }
    EXPECT_TRUE(rig.line.Writes().empty());
    EXPECT_EQ(rig.prompter.Count("exception"), 6);
    EXPECT_EQ(rig.prompter.Of("exception")[1].text, "Значение \"abc\" не является числом.");
    EXPECT_EQ(rig.form1.Stage(), fsShowing);
    EXPECT_EQ(rig.form1.WriteResult(), wrNone);
    EXPECT_EQ(rig.image->flash.Bytes(), flash);
}

TEST(KfsWrite, DisconnectInTheMiddleAbandonsTheWriteCleanly)
{
    KfsRig rig;
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    rig.Type(0, "1,3");
    rig.page.Button2Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsJournal; }));
    EXPECT_FALSE(rig.View().Button2Enabled);
    rig.Disconnect();
    EXPECT_EQ(rig.form1.WriteResult(), wrAbandoned);
    EXPECT_EQ(rig.form1.Stage(), fsIdle);
    EXPECT_FALSE(rig.View().Button2Visible);
    const size_t sent = rig.line.Writes().size();
    rig.RunUntil([] { return false; }, 10'000);
    EXPECT_EQ(rig.line.Writes().size(), sent);
    EXPECT_EQ(rig.prompter.Count("message"), 0);
    EXPECT_EQ(rig.prompter.Count("exception"), 0);

    // A new connection starts over and can write again.
    ASSERT_TRUE(rig.ConnectToShowing());
    rig.Type(0, "1,3");
    ASSERT_TRUE(rig.Write());
    EXPECT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
}

TEST(KfsWrite, PortThatVanishesDuringTheWriteEndsItAndTheConnection)
{
    KfsRig rig;
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    rig.Type(0, "1,3");
    rig.page.Button2Click();
    ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsJournal; }));
    rig.line.SetOpen(false);
    ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsStopped; }, 10'000));
    EXPECT_EQ(rig.form1.StopReason(), "Связь с прибором потеряна: устройство отключено");
    EXPECT_EQ(rig.form1.WriteResult(), wrAbandoned);
    EXPECT_EQ(rig.form1.WriteMessage(), "Запись прервана. Связь с прибором потеряна: устройство отключено");
    EXPECT_FALSE(rig.View().SpeedButton2Down);
    EXPECT_TRUE(rig.View().ComboBox1Enabled);
    EXPECT_FALSE(rig.View().Button2Visible);
    EXPECT_TRUE(rig.main.View().TabSheet1Visible);
    const uint64_t refused = rig.form1.Net_6x6().GetStatistics().TransmitErrors;
    rig.RunUntil([] { return false; }, 30'000);
    EXPECT_EQ(rig.form1.Net_6x6().GetStatistics().TransmitErrors, refused);
}

TEST(KfsWrite, IndexesFromTheMeterNeverAddressOutsideARecord)
{
    CommaSeparator comma;
    {
        // Module 9 has no journal.
        sim::MeterDescription d = sim::DefaultDescription();
        d.sensors[0]->module = 9;
        KfsRig rig(d);
        rig.image->SetCorrectionMode(true);
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.line.ClearLog();
        rig.Type(0, "1,1");
        rig.page.Button2Click();
        rig.RunUntil([] { return false; }, 1000);
        EXPECT_TRUE(rig.line.Writes().empty());
        ASSERT_EQ(rig.prompter.Count("message"), 1);
        EXPECT_NE(rig.prompter.Of("message")[0].text.find("Номер модуля 9"), std::string::npos);
    }
    {
        // One path per channel, a 0.15 m sensor at position 4: the write touches the sensor's own record only,
        // with one journal record, and the page shows only that coefficient (record 5 is another sensor's).
        sim::MeterDescription d = sim::DefaultDescription();
        for (int i = 4; i < 6; ++i) {
            sim::SensorDescription s = *d.sensors[0];
            s.diameter = 0.2f;
            s.kfs = i == 4 ? 1.04f : 1.05f;
            d.sensors[static_cast<size_t>(i)] = s;
        }
        KfsRig rig(d);
        rig.image->SetCorrectionMode(true);
        rig.prompter.sensor = 4;
        ASSERT_TRUE(rig.ConnectToShowing());
        EXPECT_EQ(rig.View().EditDigital[0].Text, "1,0400000");
        EXPECT_FALSE(rig.View().EditDigital[1].Visible);
        EXPECT_FALSE(rig.View().EditDigital[2].Visible);
        const Bytes flash = rig.image->flash.Bytes();
        rig.line.ClearLog();
        rig.Type(0, "1,041");
        ASSERT_TRUE(rig.Write());
        ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
        EXPECT_EQ(rig.SavedChannels(), std::vector<int>{5});
        EXPECT_EQ(rig.image->flash.Bytes(),
                  Expected(flash, {{SensorAddress(4) + 178, F32Bytes(1.041f)},
                                   {SensorAddress(4) + 160, TextField("1,041")},
                                   {kJournal + 16 + 18 * 2, Record(0, 0, 0x105, 1.04f, 1.041f, true)},
                                   {kJournal, Head(3)}}));
        EXPECT_EQ(rig.prompter.Of("message").back().text, "Произведено изменение\n КFS с 1,0400000 на 1,0410000");
    }
    {
        // Three paths, a sensor below 0.15 m: one coefficient shown, so one written; records 4 and 5 keep theirs.
        KfsRig rig(ThreePath());
        rig.image->SetCorrectionMode(true);
        rig.prompter.sensor = 3;
        ASSERT_TRUE(rig.ConnectToShowing());
        const Bytes flash = rig.image->flash.Bytes();
        rig.line.ClearLog();
        rig.Type(0, "1,0040");
        ASSERT_TRUE(rig.Write());
        ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
        EXPECT_EQ(rig.SavedChannels(), std::vector<int>{4});
        EXPECT_EQ(rig.image->flash.Bytes(),
                  Expected(flash, {{SensorAddress(3) + 178, F32Bytes(1.004f)},
                                   {SensorAddress(3) + 160, TextField("1,0040")},
                                   {kJournal + 16 + 256 + 16 * 1, Record(1, 0, 0x207, 1.0035f, 1.004f, false)},
                                   {kJournal + 2, Head(2)}}));
    }
}

}  // namespace
}  // namespace rv::test
