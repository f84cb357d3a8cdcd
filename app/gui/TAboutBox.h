// The about box: the program's name, version and purpose.
#pragma once

#include <QDialog>

namespace rv {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;
};

// The program's version, as the build names it.
const char* ProgramVersion();

}  // namespace rv
