#include "ui/status_list_model.h"

StatusListModel::StatusListModel(QObject *parent) : QAbstractListModel(parent)
{
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(FlushIntervalMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &StatusListModel::showWaitingLines);
}

int StatusListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant StatusListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_shown.size()))
        return {};
    return m_shown[size_t(index.row())];
}

void StatusListModel::appendLine(const QString &line)
{
    m_waiting.push_back(line);
    // More than a whole list within one batch: the oldest would only be dropped on arrival.
    if (int(m_waiting.size()) > MaxLines)
        m_waiting.pop_front();
    if (!m_batchTimer.isActive())
        m_batchTimer.start();
}

QStringList StatusListModel::lines() const
{
    const int fromShown = qMax(0, int(m_shown.size() + m_waiting.size()) - MaxLines);
    QStringList all(m_shown.begin() + fromShown, m_shown.end());
    all.append(QStringList(m_waiting.begin(), m_waiting.end()));
    return all;
}

void StatusListModel::showWaitingLines()
{
    const int arriving = int(m_waiting.size());
    const int overflow = int(m_shown.size()) + arriving - MaxLines;
    if (overflow > 0) {
        beginRemoveRows({}, 0, overflow - 1);
        m_shown.erase(m_shown.begin(), m_shown.begin() + overflow);
        endRemoveRows();
    }
    const int first = int(m_shown.size());
    beginInsertRows({}, first, first + arriving - 1);
    m_shown.insert(m_shown.end(), m_waiting.begin(), m_waiting.end());
    m_waiting.clear();
    endInsertRows();
}
