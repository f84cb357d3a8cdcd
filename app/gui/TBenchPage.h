// The main window's "Стенд" page: a row per meter of the bench (port box, sensor choice, serial number, state,
// phase, progress, verdict and its "Стоп"), rows added and removed, "Начать все" and "Стоп" for all; a double click
// shows the meter's protocol, its course and its record. A thin view of TBench: every input goes to the bench,
// every change of a meter is painted into its row.
#pragma once

#include "app/bench/TBench.h"

#include <QDialog>
#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace rv {

class IPrompter;

// The columns of the bench's table.
enum TBenchColumn { bcPort, bcSensor, bcSerial, bcState, bcPhase, bcProgress, bcVerdict, bcStop, bcColumns };

class TBenchPage : public QWidget {
    Q_OBJECT
public:
    // The bench and the prompter (for the page's own messages; each meter answers for itself) outlive the page.
    // ports: the serial ports present, offered in every row's port box.
    TBenchPage(TBench& bench, IPrompter& prompter, const std::vector<std::string>& ports, QWidget* parent = nullptr);
    ~TBenchPage() override;

    // A row for a meter on port (a row without one takes the first port present); its slot in the bench.
    size_t AddRow(const std::string& port = {}, std::optional<int> sensor = {});
    // The records of the runs go to journal from the next start (null: none; the journal outlives the page).
    void SetJournal(journal::TJournal* journal, const SRunRecordContext& context);
    // The window closes only once every meter has switched its emulation off and let its port go: install on the
    // window as its event filter.
    bool eventFilter(QObject* watched, QEvent* event) override;

    QPushButton* ButtonAdd;
    QPushButton* ButtonRemove;
    QPushButton* ButtonStartAll;
    QPushButton* ButtonStopAll;
    QCheckBox* ChBReverse;
    QCheckBox* ChBExtraInfo;
    QTableWidget* Table;

    // The row's widgets.
    QComboBox* PortBoxOf(int row) const;
    QComboBox* SensorBoxOf(int row) const;
    QPushButton* StopButtonOf(int row) const;
    // Shows the meter of the row: its protocol, its course and its record (also on a double click of the row).
    QDialog* ShowMeter(int row);

signals:
    // A row was painted anew after a change of its meter.
    void RowChanged(int row);

private:
    void StartAll();
    void RemoveRow();
    void PaintRow(int row);
    void PaintButtons();
    SBenchMeterOptions OptionsOf(int row) const;

    TBench& bench_;
    IPrompter& prompter_;
    std::vector<std::string> ports_;
    journal::TJournal* journal_ = nullptr;
    bool closeAsked_ = false;  // the window is to close once the bench has stopped
};

// What TBenchPage::ShowMeter shows; it follows the meter while it is open.
class TBenchMeterDialog : public QDialog {
    Q_OBJECT
public:
    TBenchMeterDialog(TBench& bench, size_t slot, journal::TJournal* journal, QWidget* parent);
    void Refresh();

    QLabel* LVerdict;
    QPlainTextEdit* Protocol;
    QPlainTextEdit* Course;
    QTableWidget* Points;

private:
    TBench& bench_;
    size_t slot_;
    journal::TJournal* journal_;
};

}  // namespace rv
