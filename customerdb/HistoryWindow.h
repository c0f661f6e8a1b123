#pragma once
// The "History" window of the Accounts and Dealers tabs: the recorded
// changes of the account or dealer shown, newest first, one row per changed
// field (when, who, what kind of change, field, old and new value).
#include "customerdb/ChangeLog.h"

#include <QAbstractTableModel>
#include <QDialog>

class QLabel;
class QTableView;

namespace Db {
class Connection;
}

// The changes as a read-only table.
class TChangeModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setChanges(QList<Db::Change> changes, const QString& mainTable);
    const QList<Db::Change>& changes() const { return m_changes; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<Db::Change> m_changes;
    QList<QStringList> m_cells;
};

class THistoryWindow : public QDialog {
    Q_OBJECT
public:
    explicit THistoryWindow(QWidget* parent = nullptr);

    // Reads the changes recorded under key for tables (the first is the
    // one shown: its fields go without a table name) and shows them under
    // what, "account 12 (ACME MEDICAL)". Throws EngineError, showing nothing.
    void showHistory(Db::Connection& conn, const QStringList& tables, const QString& key, const QString& what);

    QTableView* view() const { return m_view; }
    const TChangeModel& model() const { return *m_model; }
    QString heading() const;

private:
    QLabel* m_heading;
    QTableView* m_view;
    TChangeModel* m_model;
};
