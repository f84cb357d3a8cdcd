// The points table.
#include "app/gui/TPointsTable.h"

#include "app/gui/GuiLook.h"
#include "app/gui/VerdictLook.h"
#include "journal/Verdict.h"

#include <QHeaderView>

namespace rv {

namespace {

QTableWidgetItem* Cell(const QString& text, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(align);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

TPointsTable::TPointsTable(QWidget* parent) : QTableWidget(0, colCount, parent)
{
    setObjectName(QStringLiteral("PointsTable"));
    // Two-line headings keep the columns narrow enough for the window's width.
    setHorizontalHeaderLabels({QStringLiteral("Направление"), QStringLiteral("Номинал,\nм3/ч"),
                               QStringLiteral("Задано,\nм3/ч"), QStringLiteral("Измерено,\nм3/ч"),
                               QStringLiteral("Погрешность,\n%"), QStringLiteral("Допуск,\n%"),
                               QStringLiteral("Результат")});
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setAlternatingRowColors(true);
    QHeaderView* header = horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    // The columns share the width evenly: the widest heading line ("Погрешность,") fits a seventh of the window.
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setMinimumSectionSize(header->fontMetrics().horizontalAdvance(QStringLiteral("обратное")) + 12);
}

TPointsTable::~TPointsTable() = default;

void TPointsTable::Clear()
{
    clearSpans();
    setRowCount(0);
}

void TPointsTable::SetPoints(const std::vector<journal::SVerificationPoint>& points)
{
    Clear();
    for (const journal::SVerificationPoint& p : points) AddPoint(p);
}

void TPointsTable::AddPoint(const journal::SVerificationPoint& p)
{
    const int row = rowCount();
    insertRow(row);
    setItem(row, colDirection, Cell(QString::fromUtf8(journal::DirectionText(p.Direction)), Qt::AlignCenter));
    setItem(row, colNominal, Cell(Qs(p.Nominal)));
    const journal::EPointVerdict verdict = journal::JudgePoint(p);
    if (!p.NotCheckedReason.empty()) {
        // A point that could not be set has no figures: its reason takes their place.
        auto* reason = Cell(Qs(p.NotCheckedReason), Qt::AlignLeft | Qt::AlignVCenter);
        reason->setToolTip(Qs(p.NotCheckedReason));
        setItem(row, colSet, reason);
        setSpan(row, colSet, 1, colVerdict - colSet);
    } else {
        setItem(row, colSet, Cell(Qs(p.Set)));
        setItem(row, colMeasured, Cell(Qs(p.Measured)));
        setItem(row, colRelative, Cell(Qs(p.RelativeError)));
        setItem(row, colAllowed, Cell(Qs(p.AllowedError)));
    }
    auto* judged = Cell(QString::fromUtf8(journal::PointVerdictText(verdict)), Qt::AlignCenter);
    const SVerdictColours colours = PointColours(verdict);
    judged->setForeground(colours.Text);
    judged->setBackground(colours.Fill);
    QFont bold = font();
    bold.setBold(true);
    judged->setFont(bold);
    setItem(row, colVerdict, judged);
    if (QTableWidgetItem* relative = item(row, colRelative); relative && verdict == journal::EPointVerdict::Fail)
        relative->setForeground(colours.Text);
    scrollToBottom();
}

QSize TPointsTable::sizeHint() const
{
    // Room for a forward series of the usual five points and a few more.
    const QSize hint = QTableWidget::sizeHint();
    return {hint.width(), horizontalHeader()->sizeHint().height() +
                              kVisibleRows * verticalHeader()->defaultSectionSize() + frameWidth() * 2};
}

}  // namespace rv
