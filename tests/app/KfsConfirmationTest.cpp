// The KFS page as the technician meets it, in virtual time against the simulated meter: nothing of a meter before a
// connection, the one field a one-path sensor's write takes, the labels of a three-path sensor's paths, the
// confirmation of every write (after the questions about unusual values, before anything is sent), the values read
// put back when the meter is not put into correction mode, and a final message that names only what changed.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/KfsRig.h"

namespace rv::test {
namespace {

using sim::layout::SensorAddress;

std::vector<std::string> Kinds(const ScriptedPrompter& prompter)
{
    std::vector<std::string> out;
    for (const ScriptedPrompter::Shown& s : prompter.shown) out.push_back(s.kind);
    return out;
}

void ExpectNothingShown(const SKfsPageView& v)
{
    for (size_t k = 0; k < v.Label.size(); ++k) {
        EXPECT_FALSE(v.Label[k].Visible) << k;
        EXPECT_EQ(v.Label[k].Caption, "") << k;
        EXPECT_FALSE(v.EditDigital[k].Visible) << k;
        EXPECT_EQ(v.EditDigital[k].Text, "") << k;
    }
    EXPECT_FALSE(v.Button2Visible);
}

TEST(KfsPageView, ShowsNothingOfAMeterBeforeItsCoefficientsAreRead)
{
    CommaSeparator comma;
    KfsRig rig;
    ExpectNothingShown(rig.View());
    ASSERT_TRUE(rig.ConnectToShowing());
    EXPECT_TRUE(rig.View().Label[0].Visible);
    EXPECT_EQ(rig.View().EditDigital[0].Text, "1,0012000");

    // The next connection reaches a meter whose records cannot be used: what the last one showed is gone.
    rig.Disconnect();
    rig.image->flash.PutU8(sim::layout::kConfig + sim::layout::config::kPathsPerSensor, 2);
    rig.Connect();
    ExpectNothingShown(rig.View());
    ASSERT_TRUE(rig.RunUntil([&] { return rig.form1.Stage() == fsStopped; }));
    ExpectNothingShown(rig.View());
}

// A one-path meter's sensor of 0.15 m or more: its write takes its own coefficient only, so only that field is
// offered; the next records belong to other sensors.
TEST(KfsPageView, LargeOnePathSensorShowsOnlyTheFieldItsWriteTakes)
{
    CommaSeparator comma;
    sim::MeterDescription d = sim::DefaultDescription();
    d.sensors[1]->diameter = d.sensors[1]->diameter2 = 0.15f;
    KfsRig rig(d);
    rig.image->SetCorrectionMode(true);
    rig.prompter.sensor = 1;
    ASSERT_TRUE(rig.ConnectToShowing());
    const SKfsPageView& v = rig.View();
    EXPECT_EQ(v.Label[0].Caption, "Модуль №1 FSA Диаметр 0,150");
    EXPECT_EQ(v.EditDigital[0].Text, "0,9987000");
    for (size_t k = 1; k < 3; ++k) {
        EXPECT_FALSE(v.Label[k].Visible) << k;
        EXPECT_FALSE(v.EditDigital[k].Visible) << k;
    }
    EXPECT_EQ(rig.form1.CoefficientCount(), 1);

    rig.Type(0, "1,01");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
    ASSERT_EQ(rig.prompter.Count("confirm"), 1);
    EXPECT_EQ(rig.prompter.Of("confirm")[0].text,
              "Записать KFS в прибор?\nДатчик: Модуль №1 FSA Диаметр 0,150\n КFS с 0,9987000 на 1,0100000");
    // Only the sensor's own record changed: sensors 2 and 3 keep their coefficients.
    EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(1) + 178), 1.01f);
    EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(2) + 178), 1.0035f);
    EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(3) + 178), 1.0f);
    EXPECT_EQ(rig.SavedChannels(), std::vector<int>{2});
}

TEST(KfsConfirmation, NamesTheSensorAndTheValuesAndNothingIsSentWithoutIt)
{
    CommaSeparator comma;
    KfsRig rig;
    rig.image->SetCorrectionMode(true);
    rig.prompter.sensor = 1;
    ASSERT_TRUE(rig.ConnectToShowing());
    rig.line.ClearLog();
    rig.prompter.shown.clear();

    // No: nothing goes to the meter, and the value typed stays for the technician to mend.
    rig.prompter.confirms = {false};
    rig.Type(0, "1,005");
    ASSERT_TRUE(rig.Write());
    EXPECT_EQ(rig.form1.WriteResult(), wrDeclined);
    EXPECT_EQ(rig.form1.WriteMessage(), "Запись отменена: не подтверждена.");
    ASSERT_EQ(Kinds(rig.prompter), std::vector<std::string>{"confirm"});
    EXPECT_EQ(rig.prompter.shown[0].text,
              "Записать KFS в прибор?\nДатчик: Модуль №1 FSA Диаметр 0,032\n КFS с 0,9987000 на 1,0050000");
    EXPECT_EQ(rig.prompter.shown[0].caption, "Внимание.");
    EXPECT_TRUE(rig.line.Writes().empty());
    EXPECT_EQ(rig.View().EditDigital[0].Text, "1,005");
    EXPECT_EQ(rig.form1.Stage(), fsShowing);
    EXPECT_TRUE(rig.View().Button2Enabled);

    // An unusual value is asked about first; the confirmation comes once that is answered Yes, and only then
    // does the write begin.
    rig.prompter.shown.clear();
    rig.prompter.answers = {true};
    rig.Type(0, "2,5");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
    EXPECT_EQ(Kinds(rig.prompter), (std::vector<std::string>{"question", "confirm", "message"}));
    EXPECT_EQ(rig.prompter.shown[0].text, "Коэффициент 2,5 необычно далек от 1. Записать?");
    EXPECT_EQ(rig.prompter.shown[1].text,
              "Записать KFS в прибор?\nДатчик: Модуль №1 FSA Диаметр 0,032\n КFS с 0,9987000 на 2,5000000");
    EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(1) + 178), 2.5f);

    // No to the unusual value: the write ends there, unconfirmed and unsent.
    rig.prompter.shown.clear();
    rig.line.ClearLog();
    rig.prompter.answers = {false};
    rig.Type(0, "0,3");
    ASSERT_TRUE(rig.Write());
    EXPECT_EQ(rig.form1.WriteResult(), wrDeclined);
    EXPECT_EQ(Kinds(rig.prompter), std::vector<std::string>{"question"});
    EXPECT_TRUE(rig.line.Writes().empty());
    EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(1) + 178), 2.5f);  // the value written before stays
}

TEST(KfsConfirmation, ThreePathSensorListsEveryPathAndTheMessageOnlyWhatChanged)
{
    CommaSeparator comma;
    KfsRig rig(ThreePath());
    rig.image->SetCorrectionMode(true);
    ASSERT_TRUE(rig.ConnectToShowing());
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(rig.View().Label[k].Caption, "Модуль №1 FSC Диаметр 0,150: KFS " + std::to_string(k + 1));

    rig.Type(1, "0,9990");
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
    ASSERT_EQ(rig.prompter.Count("confirm"), 1);
    EXPECT_EQ(rig.prompter.Of("confirm")[0].text,
              "Записать KFS в прибор?\nДатчик: Модуль №1 FSC Диаметр 0,150\n КFS1 1,0021000 без изменений\n"
              " КFS2 с 0,9978000 на 0,9990000\n КFS3 1,0043000 без изменений");
    EXPECT_EQ(rig.prompter.Of("message").back().text, "Произведено изменение\n КFS2 с 0,9978000 на 0,9990000\n");

    // The same values once more (to mend a text, say): written, and said to be unchanged.
    ASSERT_TRUE(rig.Write());
    ASSERT_EQ(rig.form1.WriteResult(), wrDone) << rig.form1.WriteMessage();
    EXPECT_EQ(rig.prompter.Of("message").back().text,
              "Произведена запись без изменений\n КFS1 1,0021000\n КFS2 0,9990000\n КFS3 1,0043000");
}

TEST(KfsConfirmation, NoToTheCorrectionModePutsTheValuesReadBack)
{
    CommaSeparator comma;
    {
        sim::MeterDescription d = sim::DefaultDescription();
        d.flashWrites = sim::FlashWrites::InCorrectionMode;
        KfsRig rig(d);
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.prompter.answers = {false};
        rig.Type(0, "1,1");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrCancelled);
        EXPECT_EQ(Kinds(rig.prompter), (std::vector<std::string>{"choose", "confirm", "question"}));
        EXPECT_EQ(rig.View().EditDigital[0].Text, "1,0012000");
    }
    {
        KfsRig rig(ThreePath());
        ASSERT_TRUE(rig.ConnectToShowing());
        rig.prompter.answers = {false};
        rig.Type(0, "1,2");
        rig.Type(2, "0,9");
        ASSERT_TRUE(rig.Write());
        EXPECT_EQ(rig.form1.WriteResult(), wrCancelled);
        EXPECT_EQ(rig.View().EditDigital[0].Text, "1,0021000");
        EXPECT_EQ(rig.View().EditDigital[1].Text, "0,9978000");
        EXPECT_EQ(rig.View().EditDigital[2].Text, "1,0043000");
        EXPECT_FLOAT_EQ(rig.image->flash.F32(SensorAddress(0) + 178), 1.0021f);
    }
}

}  // namespace
}  // namespace rv::test
