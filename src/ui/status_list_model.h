#pragma once

#include <QAbstractListModel>
#include <QString>

#include <deque>

/**
 * The lines of the status list, the latest MaxLines of them. Adding a line costs the same
 * however many came before, so a long debug session never slows the service down.
 */
class StatusListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 10000;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void appendLine(const QString &line);
    QStringList lines() const;

private:
    std::deque<QString> m_lines;
};
