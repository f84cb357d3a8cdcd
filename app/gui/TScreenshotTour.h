// A walk through the windows for review: the KFS page before a connection, its open port list and the page with the
// coefficients of the first sensor; then connect the verification page to the simulated meter, take the sensor
// dialog, the main window with the protocol header, the about box, the save dialog, the laboratory's settings and the
// conditions as pictures; then run the verification and take the main window with its points and verdict, the Журнал
// page and the record of the run; then end the program.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace rv {

class TRivantaGui;

class TScreenshotTour : public QObject {
    Q_OBJECT
public:
    // The pictures go to dir as PNG files. The program ends with status 0 after the last one, 1 when the
    // meter does not get to the header within the time limit or a picture cannot be written.
    TScreenshotTour(TRivantaGui& gui, const QString& dir);
    ~TScreenshotTour() override;

    void Start();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TakeKfsPage();
    void OnKfsPageChanged();
    void OnViewChanged();
    void TakeMainWindow();
    void TakeVerdict();
    void TakeJournal();
    // With rows on the "Стенд" page: starts them all, takes the page and the first meter's dialog, stops them.
    void TakeBenchPage();
    // Takes the modal dialog that opens once run has started, then closes it with reject.
    void TakeModal(const QString& name, const std::function<void()>& run);
    bool Save(QWidget* widget, const QString& name);
    void Fail(const QString& why);

    TRivantaGui& gui_;
    QString dir_;
    bool dialogTaken_ = false;
    bool kfsTaken_ = false;
    bool mainTaken_ = false;
    bool runStarted_ = false;
    bool verdictTaken_ = false;
    bool failed_ = false;
};

}  // namespace rv
