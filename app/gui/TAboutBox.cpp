// The about box.
#include "app/gui/TAboutBox.h"

#include "app/gui/GuiLook.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace rv {

const char* ProgramVersion()
{
    return RIVANTA_VERSION;
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("О программе"));
    setFont(FormFont());

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QStringLiteral("Rivanta"), this);
    QFont big = name->font();
    big.setPointSize(12);
    big.setBold(true);
    name->setFont(big);
    auto* version = new QLabel(QStringLiteral("Версия %1").arg(QString::fromLatin1(ProgramVersion())), this);
    version->setObjectName(QStringLiteral("Version"));
    auto* text = new QLabel(QStringLiteral("Поверка ультразвуковых датчиков расхода теплосчетчика в режиме имитатора: "
                                           "чтение конфигурации прибора, измерение в контрольных точках, расчет "
                                           "относительной погрешности и протокол поверки.\n\n"
                                           "Просмотр и изменение коэффициентов KFS датчиков."),
                            this);
    text->setWordWrap(true);
    text->setFixedWidth(280);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addSpacing(8);
    texts->addWidget(text);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(8);
    top->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);
}

TAboutBox::~TAboutBox() = default;

}  // namespace rv
