#include "ui/status_list_model.h"

int StatusListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant StatusListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_lines.size()))
        return {};
    return m_lines[size_t(index.row())];
}

void StatusListModel::appendLine(const QString &line)
{
    if (int(m_lines.size()) >= MaxLines) {
        beginRemoveRows({}, 0, 0);
        m_lines.pop_front();
        endRemoveRows();
    }
    const int row = int(m_lines.size());
    beginInsertRows({}, row, row);
    m_lines.push_back(line);
    endInsertRows();
}

QStringList StatusListModel::lines() const
{
    return QStringList(m_lines.begin(), m_lines.end());
}
