// The GUI's prompting interface.
#include "app/gui/TGuiPrompter.h"

#include "app/gui/GuiLook.h"
#include "app/window/MeterImages.h"
#include "app/gui/TFSelectSensor.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace rv {

TGuiPrompter::TGuiPrompter() = default;
TGuiPrompter::~TGuiPrompter() = default;

void TGuiPrompter::SetWindows(QWidget* main, TFSelectSensor* test, TFSelectSensor* change)
{
    main_ = main;
    test_ = test;
    change_ = change;
}

void TGuiPrompter::Message(const std::string& text, const std::string& caption)
{
    QMessageBox box(QMessageBox::NoIcon, Qs(caption), Qs(text), QMessageBox::Ok, main_);
    box.exec();
}

bool TGuiPrompter::Question(const std::string& text, const std::string& caption)
{
    QMessageBox box(QMessageBox::Question, Qs(caption), Qs(text), QMessageBox::Yes | QMessageBox::No, main_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

TAnswer TGuiPrompter::QuestionCancel(const std::string& text, const std::string& caption)
{
    QMessageBox box(QMessageBox::Question, Qs(caption), Qs(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, main_);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return anYes;
        case QMessageBox::No:
            return anNo;
        default:
            return anCancel;
    }
}

std::optional<int> TGuiPrompter::ChooseSensor(TSensorDialog dialog, const std::vector<SSensorChoice>& choices)
{
    TFSelectSensor* form = dialog == sdTest ? test_.data() : change_.data();
    if (!form) return std::nullopt;
    form->Fill(choices);
    form->exec();
    return form->Checked();
}

std::optional<std::string> TGuiPrompter::SaveFileName(const SSaveDialog& dialog)
{
    QFileDialog box(main_, Qs(dialog.Title));
    box.setObjectName(QStringLiteral("SaveDialog1"));
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    box.setNameFilter(QtFileFilter(dialog.Filter));
    box.setDefaultSuffix(Qs(dialog.DefaultExt));
    if (!dialog.FileName.empty()) box.selectFile(Qs(dialog.FileName));
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return std::nullopt;
    return Ss(box.selectedFiles().constFirst());
}

void TGuiPrompter::ShowException(const std::exception& error)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Rivanta"), QString::fromUtf8(error.what()), QMessageBox::Ok,
                    main_);
    box.exec();
}

QString QtFileFilter(const std::string& filter)
{
    const QStringList parts = Qs(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace rv
