// The GUI's prompting interface, the sensor dialogs, the application's exception display and the program's
// options.
#include <gtest/gtest.h>

#include "DialogAnswerer.h"
#include "app/gui/GuiOptions.h"
#include "app/gui/TApplication.h"
#include "app/gui/TFSelectSensor.h"
#include "app/gui/TGuiPrompter.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <stdexcept>

using namespace rv;
using rv::test::DialogAnswerer;

namespace {

std::vector<SSensorChoice> Choices(std::initializer_list<int> positions)
{
    std::vector<SSensorChoice> out;
    for (int p : positions) out.push_back({p, "Модуль №1 FSA Диаметр 0,0" + std::to_string(20 + p)});
    return out;
}

QStringList ButtonTexts(QDialog* dialog)
{
    QStringList texts;
    for (QAbstractButton* b : static_cast<QMessageBox*>(dialog)->buttons()) texts << b->text().remove('&');
    texts.sort();
    return texts;
}

}  // namespace

TEST(SensorDialog, FillPlacesOneButtonPerChoiceBelowTheOneBeforeAndChecksTheFirst)
{
    TFSelectSensorTest dialog;
    EXPECT_EQ(dialog.objectName(), "FSelectSensorTest");
    EXPECT_EQ(dialog.windowTitle(), "Выбор датчика");
    EXPECT_EQ(dialog.GroupBox1->title(), "Выбор датчика для проверки");
    EXPECT_EQ(dialog.size(), QSize(318, 201));
    EXPECT_EQ(dialog.BitBtn1->geometry(), QRect(6, 4, 75, 25));

    dialog.Fill(Choices({0, 3, 5}));
    const auto& buttons = dialog.Buttons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->geometry().topLeft(), QPoint(5, 20));
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->parentWidget(), dialog.GroupBox1);
        EXPECT_EQ(buttons[i]->width(), 300);
        EXPECT_EQ(buttons[i]->isChecked(), i == 0);
        if (i > 0) {
            EXPECT_EQ(buttons[i]->y(), buttons[i - 1]->y() + buttons[i - 1]->height() + 5);
        }
    }
    EXPECT_EQ(buttons[1]->text(), "Модуль №1 FSA Диаметр 0,023");
    EXPECT_EQ(dialog.Checked(), 0);
    buttons[2]->setChecked(true);
    EXPECT_EQ(dialog.Checked(), 5);

    // A new fill replaces the buttons of the earlier one: nothing stale is offered or read.
    dialog.Fill(Choices({2}));
    EXPECT_EQ(dialog.GroupBox1->findChildren<QRadioButton*>().size(), 1);
    EXPECT_EQ(dialog.Buttons()[0]->y(), 20);
    EXPECT_EQ(dialog.Checked(), 2);
    dialog.Fill({});
    EXPECT_TRUE(dialog.GroupBox1->findChildren<QRadioButton*>().isEmpty());
    EXPECT_EQ(dialog.Checked(), std::nullopt);

    TFSelectSensor change;
    EXPECT_EQ(change.objectName(), "FSelectSensor");
    EXPECT_EQ(change.GroupBox1->title(), "Выбор датчика для изменеия");
}

TEST(SensorDialog, PrompterShowsTheDialogModallyAndReturnsTheCheckedChoiceHoweverItIsClosed)
{
    QWidget main;
    TFSelectSensorTest test(&main);
    TFSelectSensor change(&main);
    TGuiPrompter prompter;
    prompter.SetWindows(&main, &test, &change);

    DialogAnswerer pickSecondAndOk([](QDialog* d) {
        auto* form = static_cast<TFSelectSensor*>(d);
        form->Buttons()[1]->click();
        form->BitBtn1->click();
    });
    EXPECT_EQ(prompter.ChooseSensor(sdTest, Choices({0, 1, 2})), 1);
    EXPECT_EQ(pickSecondAndOk.dialogs, 1);
    EXPECT_FALSE(test.isVisible());

    // The title bar's close button acts as OK: the checked choice counts.
    DialogAnswerer closeByTitleBar([](QDialog* d) {
        auto* form = static_cast<TFSelectSensor*>(d);
        form->Buttons()[2]->click();
        form->close();
    });
    EXPECT_EQ(prompter.ChooseSensor(sdChange, Choices({0, 3, 4})), 4);
    EXPECT_EQ(change.result(), QDialog::Accepted);
    EXPECT_EQ(test.Buttons().size(), 3u);

    // With no present sensor the dialog opens empty and nothing is chosen.
    DialogAnswerer ok([](QDialog* d) { static_cast<TFSelectSensor*>(d)->BitBtn1->click(); });
    EXPECT_EQ(prompter.ChooseSensor(sdTest, {}), std::nullopt);
    EXPECT_EQ(ok.dialogs, 1);
}

TEST(GuiPrompter, MessageBoxesCarryTheTextsGivenAndSpeakRussian)
{
    QWidget main;
    TGuiPrompter prompter;
    prompter.SetWindows(&main, nullptr, nullptr);
    QStringList seen;
    bool answerYes = false;
    DialogAnswerer answer([&](QDialog* d) {
        auto* box = static_cast<QMessageBox*>(d);
        seen = ButtonTexts(d);
        box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    EXPECT_FALSE(prompter.Question("Для проверки войдите в режим имитатора.", "Внимание."));
    EXPECT_EQ(seen, QStringList({"Да", "Нет"}));
    answerYes = true;
    EXPECT_TRUE(prompter.Question("Для проверки войдите в режим имитатора.", "Внимание."));
    ASSERT_EQ(answer.boxes.size(), 2u);
    EXPECT_EQ(answer.boxes[0], "Внимание.|Для проверки войдите в режим имитатора.");

    DialogAnswerer okOnly([&](QDialog* d) {
        seen = ButtonTexts(d);
        static_cast<QMessageBox*>(d)->buttons().front()->click();
    });
    prompter.Message("Ошибка датчика.", "Ошибка");
    EXPECT_EQ(seen, QStringList({"OK"}));  // Qt's Russian translation keeps the Latin letters
    prompter.ShowException(std::runtime_error("Нет доступа к файлу"));
    ASSERT_EQ(okOnly.boxes.size(), 2u);
    EXPECT_EQ(okOnly.boxes[0], "Ошибка|Ошибка датчика.");
    EXPECT_EQ(okOnly.boxes[1], "Rivanta|Нет доступа к файлу");
}

TEST(GuiPrompter, SaveDialogHasTheTitleFilterAndExtensionAndCancelGivesNothing)
{
    TGuiPrompter prompter;
    const SSaveDialog save{"Сохранение отчета", "Текстовый файл|*.TXT", "TXT", "21345_FS-25S_2026-12-09.TXT"};
    QString title, filter, suffix;
    DialogAnswerer cancel([&](QDialog* d) {
        auto* box = static_cast<QFileDialog*>(d);
        title = box->windowTitle();
        filter = box->nameFilters().join(";;");
        suffix = box->defaultSuffix();
        box->reject();
    });
    EXPECT_EQ(prompter.SaveFileName(save), std::nullopt);
    EXPECT_EQ(title, "Сохранение отчета");
    EXPECT_EQ(filter, "Текстовый файл (*.TXT)");
    EXPECT_EQ(suffix, "TXT");

    EXPECT_EQ(QtFileFilter("Текст|*.TXT;*.LOG|Все файлы|*.*"), "Текст (*.TXT *.LOG);;Все файлы (*.*)");
}

namespace {

class Throwing : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw std::runtime_error("сбой обработчика");
        if (e->type() == QEvent::User + 1) throw 42;
        return QObject::event(e);
    }
};

}  // namespace

TEST(Application, AnExceptionThatEscapesAHandlerIsShownAndTheProgramGoesOn)
{
    auto* app = static_cast<TApplication*>(qApp);
    std::vector<std::string> shown;
    app->SetExceptionDisplay([&](const std::exception& e) { shown.push_back(e.what()); });
    Throwing target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
    QCoreApplication::processEvents();
    app->SetExceptionDisplay(nullptr);
    EXPECT_EQ(shown, (std::vector<std::string>{"сбой обработчика", ""}));
}

TEST(GuiOptions, PortSimulatedMeterAndScreenshots)
{
    SGuiOptions o;
    EXPECT_EQ(ParseGuiOptions({"--port", "/dev/ttyUSB0"}, o), "");
    EXPECT_EQ(o.Port, "/dev/ttyUSB0");
    EXPECT_FALSE(o.Simulate);

    SGuiOptions m;
    EXPECT_EQ(ParseGuiOptions({"--meter", "three-path.json", "--screenshots", "shots"}, m), "");
    EXPECT_TRUE(m.Simulate);
    EXPECT_EQ(m.MeterFile, "three-path.json");
    EXPECT_EQ(m.ScreenshotDir, "shots");

    const auto error = [](std::vector<std::string> args) {
        SGuiOptions fresh;
        return ParseGuiOptions(args, fresh);
    };
    EXPECT_NE(error({"--port"}), "");
    EXPECT_NE(error({"--simulate", "--port", "COM1"}), "");
    EXPECT_NE(error({"--screenshots", "shots"}), "");
    EXPECT_EQ(error({"--fast"}), "Неизвестный параметр --fast.");
}

TEST(GuiOptions, HelpAndVersionAreAnsweredFromTheRawArguments)
{
    const auto answer = [](std::vector<const char*> args) {
        args.insert(args.begin(), "rivanta");
        return HelpOrVersionAnswer(static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(answer({"-platform", "offscreen", "--help"}), kGuiUsage);  // Qt's own options not yet taken out
    EXPECT_EQ(answer({"--version"}).rfind("rivanta ", 0), 0u);
    EXPECT_EQ(answer({"--version"}).back(), '\n');
    EXPECT_EQ(answer({"--simulate"}), "");
    SGuiOptions o;
    EXPECT_EQ(ParseGuiOptions({"--simulate", "--version"}, o), "");
}
