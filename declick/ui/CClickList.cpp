#include "CClickList.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>

namespace kelvane {

namespace {

QColor ToQColor(RowRgb c) { return QColor(c.r, c.g, c.b); }

const EventRecord kBlockRow{1, 0, 0, 0, kMagBlockRow};

}  // namespace

CClickListModel::CClickListModel(CQuillon3Doc& doc, QObject* parent) : QAbstractListModel(parent), doc_(doc) {}

void CClickListModel::Refill()
{
    beginResetModel();
    rows_ = BuildClickListRows(doc_, ListFilterLimit(doc_));
    endResetModel();
}

int32_t CClickListModel::EventAt(int row) const
{
    if (row < 0 || row >= static_cast<int>(rows_.events.size())) return 0;
    return std::max(0, rows_.events[static_cast<size_t>(row)]);
}

int CClickListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.events.size());
}

QVariant CClickListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.events.size())) return {};
    const int32_t at = rows_.events[static_cast<size_t>(index.row())];
    if (at > 0 && at >= doc_.events.Size() - 1) return {};
    EventRecord record = kBlockRow;
    if (at > 0) record = doc_.events[at];
    else record.pos = at == -1 ? doc_.blockStart : doc_.blockEnd;
    switch (role) {
    case Qt::DisplayRole: {
        QString text = QString::fromStdString(RowText(doc_, record));
        if (at < 0) text += at == -1 ? "      Block Start" : "      Block End";
        if (index.row() == rows_.currentRow) text += QString::fromUtf8("  \u25C0");
        return text;
    }
    case Qt::BackgroundRole: return ToQColor(RowBackground(ColourClass(record)));
    case Qt::ForegroundRole: return ToQColor(RowTextColour(record));
    case Qt::FontRole: return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    default: return {};
    }
}

CClickList::CClickList(CQuillon3Doc& doc, QWidget* parent) : QListView(parent), doc_(doc), model_(doc)
{
    setObjectName("clickList");
    setModel(&model_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMinimumWidth(300);
    doc_.AddObserver(this);
    model_.Refill();
}

CClickList::~CClickList() { doc_.RemoveObserver(this); }

void CClickList::OnDocUpdate()
{
    if (updating_) return;
    model_.Refill();
    ShowSelection();
}

void CClickList::ShowSelection()
{
    const ClickListRows& rows = model_.Rows();
    QItemSelectionModel* sel = selectionModel();
    sel->clearSelection();
    if (rows.blockFirstRow >= 0 && rows.blockLastRow >= 0) {
        sel->select(QItemSelection(model_.index(rows.blockFirstRow), model_.index(rows.blockLastRow)),
                    QItemSelectionModel::Select);
        // The block start is shown as the fourth visible row.
        scrollTo(model_.index(std::max(0, rows.blockFirstRow - 3)), QAbstractItemView::PositionAtTop);
    } else if (rows.currentRow >= 0) {
        sel->select(model_.index(rows.currentRow), QItemSelectionModel::Select);
        scrollTo(model_.index(rows.currentRow));
    }
}

void CClickList::Choose(int row, bool shift)
{
    const int32_t index = model_.EventAt(row);
    if (index <= 0) return;
    ChooseListRecord(doc_, index, shift);
}

void CClickList::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || event->button() != Qt::LeftButton) return QListView::mousePressEvent(event);
    Choose(index.row(), event->modifiers() & Qt::ShiftModifier);
}

void CClickList::keyPressEvent(QKeyEvent* event)
{
    const int step = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
    if (step == 0) return QListView::keyPressEvent(event);
    const int from = currentIndex().isValid() ? currentIndex().row() : model_.Rows().currentRow;
    int row = from + step;
    while (row >= 0 && row < model_.rowCount() && model_.EventAt(row) == 0) row += step;
    if (row >= 0 && row < model_.rowCount()) {
        Choose(row, event->modifiers() & Qt::ShiftModifier);
        setCurrentIndex(model_.index(row));
    }
}

}  // namespace kelvane
