// The sensor choice dialogs.
#include "app/gui/TFSelectSensor.h"

#include "app/gui/GuiLook.h"
#include "app/window/MeterImages.h"

#include <QFrame>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>

namespace rv {

namespace {

constexpr int kClientWidth = 318;
constexpr int kClientHeight = 201;
constexpr int kPanelHeight = 32;
constexpr int kButtonLeft = 5;
constexpr int kFirstTop = 20;
constexpr int kGap = 5;
constexpr int kButtonWidth = 300;
// The least height a radio button keeps, whatever the style asks for.
constexpr int kButtonMinHeight = 17;

}  // namespace

TFSelectSensor::TFSelectSensor(QWidget* parent, TSensorDialog kind) : QDialog(parent)
{
    setObjectName(kind == sdTest ? QStringLiteral("FSelectSensorTest") : QStringLiteral("FSelectSensor"));
    setWindowTitle(QStringLiteral("Выбор датчика"));
    setFont(FormFont());
    setFixedSize(kClientWidth, kClientHeight);
    move(546, 273);

    GroupBox1 = new QGroupBox(QString::fromUtf8(SensorDialogCaption(kind)), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Panel1->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), Panel1);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(6, 4, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TFSelectSensor::~TFSelectSensor() = default;

void TFSelectSensor::reject()
{
    accept();
}

void TFSelectSensor::Fill(const std::vector<SSensorChoice>& choices)
{
    // Buttons of an earlier fill would offer sensors of another meter or configuration.
    for (QRadioButton* b : buttons_) delete b;
    buttons_.clear();
    positions_.clear();

    int top = kFirstTop;
    for (const SSensorChoice& c : choices) {
        auto* b = new QRadioButton(QString::fromStdString(c.Caption), GroupBox1);
        b->setObjectName(QStringLiteral("RadioButton%1").arg(c.Position));
        const int height = std::max(kButtonMinHeight, b->sizeHint().height());
        b->setGeometry(kButtonLeft, top, kButtonWidth, height);
        b->setChecked(buttons_.empty());
        b->show();
        top += height + kGap;
        buttons_.push_back(b);
        positions_.push_back(c.Position);
    }
}

std::optional<int> TFSelectSensor::Checked() const
{
    std::optional<int> chosen;
    for (size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i]->isChecked()) chosen = positions_[i];
    return chosen;
}

}  // namespace rv
