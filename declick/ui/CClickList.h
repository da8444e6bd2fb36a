#pragma once
// The correction list: one row per record of the event list that the filter
// shows, coloured by class, with its time inside the current track. A model
// over the event indices and a list view with uniform rows: only the rows on
// screen are ever formatted, so tens of thousands cost no more than ten.

#include "declick/ClickListRows.h"
#include "document/CQuillon3Doc.h"

#include <QAbstractListModel>
#include <QListView>

namespace kelvane {

class CClickListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CClickListModel(CQuillon3Doc& doc, QObject* parent = nullptr);

    // Rebuilds the rows from the document and the stored filter.
    void Refill();
    const ClickListRows& Rows() const { return rows_; }
    // The event index of a row; 0 for a block row.
    int32_t EventAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    CQuillon3Doc& doc_;
    ClickListRows rows_;
};

class CClickList : public QListView, public IDocObserver {
    Q_OBJECT
public:
    explicit CClickList(CQuillon3Doc& doc, QWidget* parent = nullptr);
    ~CClickList() override;

    CClickListModel& Model() { return model_; }

    void OnDocReset() override { model_.Refill(); }
    void OnDocUpdate() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowSelection();
    void Choose(int row, bool shift);

    CQuillon3Doc& doc_;
    CClickListModel model_;
    bool updating_ = false;
};

}  // namespace kelvane
