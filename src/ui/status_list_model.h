#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QTimer>

#include <deque>

/**
 * The lines of the status list, the latest MaxLines of them. Adding a line costs the same
 * however many came before, so a long debug session never slows the service down: lines
 * reach the list in batches, at most FlushIntervalMs after they were added, so that a burst
 * of requests moves and repaints the list once, not once a line.
 */
class StatusListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 10000;
    static constexpr int FlushIntervalMs = 50;

    explicit StatusListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    /// Adds @p line; the list shows it with the next batch.
    void appendLine(const QString &line);
    /// The latest MaxLines lines, those still waiting for their batch included.
    QStringList lines() const;

private:
    void showWaitingLines();

    std::deque<QString> m_shown;
    std::deque<QString> m_waiting;
    QTimer m_batchTimer;
};
