// The verdict view.
#include "app/gui/TVerdictView.h"

#include "app/gui/GuiLook.h"
#include "app/gui/VerdictLook.h"
#include "journal/Verdict.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace rv {

TVerdictView::TVerdictView(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("VerdictView"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    setAutoFillBackground(true);
    // Its place stays while no run has ended, so that the table does not move when the verdict comes.
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);

    Caption = Named(new QLabel(QStringLiteral("Результат поверки:"), this), "VerdictCaption");
    Verdict = Named(new QLabel(this), "Verdict");
    QFont big = Verdict->font();
    big.setPointSize(16);
    big.setBold(true);
    Verdict->setFont(big);
    Outcome = Named(new QLabel(this), "Outcome");
    Outcome->setWordWrap(true);
    Outcome->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(Caption, 0, Qt::AlignBaseline);
    top->addWidget(Verdict, 0, Qt::AlignBaseline);
    top->addStretch(1);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 2, 8, 4);
    root->setSpacing(0);
    root->addLayout(top);
    root->addWidget(Outcome);
    Clear();
}

TVerdictView::~TVerdictView() = default;

void TVerdictView::Clear()
{
    shown_ = false;
    Verdict->clear();
    Outcome->clear();
    Outcome->hide();
    hide();
}

void TVerdictView::Show(journal::ERunState state, const std::string& outcome)
{
    shown_ = true;
    const SVerdictColours colours = StateColours(state);
    QPalette p = palette();
    p.setColor(QPalette::Window, colours.Fill);
    p.setColor(QPalette::WindowText, colours.Text);
    setPalette(p);
    Verdict->setText(QString::fromUtf8(journal::StateText(state)));
    Outcome->setText(Qs(outcome));
    Outcome->setToolTip(Qs(outcome));
    Outcome->setVisible(!outcome.empty());
    show();
}

}  // namespace rv
