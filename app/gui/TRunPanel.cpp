// The run panel of the verification page.
#include "app/gui/TRunPanel.h"

#include "app/gui/GuiLook.h"
#include "app/gui/TConditionsForm.h"
#include "app/gui/TPointsTable.h"
#include "app/gui/TVerdictView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace rv {

TRunPanel::TRunPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RunPanel"));
    Verdict = new TVerdictView(this);
    Conditions = Named(new QLabel(this), "ConditionsText");
    Conditions->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ConditionsButton = Named(new QPushButton(QStringLiteral("Условия…"), this), "ConditionsButton");
    ConditionsButton->setToolTip(QStringLiteral("Температура, влажность и давление при поверке"));
    PrintButton = Named(new QPushButton(QStringLiteral("Печать…"), this), "PrintButton");
    PrintButton->setToolTip(QStringLiteral("Напечатать протокол последней поверки"));
    PrintButton->setEnabled(false);
    Points = new TPointsTable(this);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 0, 4, 0);
    row->addWidget(Conditions, 1);
    row->addWidget(ConditionsButton);
    row->addWidget(PrintButton);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 4, 0, 0);
    root->setSpacing(4);
    root->addWidget(Verdict);
    root->addLayout(row);
    root->addWidget(Points, 1);

    connect(ConditionsButton, &QPushButton::clicked, this, &TRunPanel::ConditionsClicked);
    connect(PrintButton, &QPushButton::clicked, this, &TRunPanel::PrintClicked);
}

TRunPanel::~TRunPanel() = default;

void TRunPanel::ShowConditions(const journal::SConditions& conditions, bool recorded)
{
    QString text = QStringLiteral("Условия поверки: ") + ConditionsText(conditions);
    if (!recorded) text += QStringLiteral(" (журнал не ведётся)");
    Conditions->setText(text);
    Conditions->setToolTip(text);
}

}  // namespace rv
