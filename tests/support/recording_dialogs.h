#pragma once

#include "service/operator_dialogs.h"

#include <QStringList>

#include <functional>

/// Dialogs that never block: message boxes are recorded, the file dialog answers from a script.
class RecordingDialogs : public OperatorDialogs
{
public:
    void messageBox(const QString &text) override
    {
        messages << text;
        if (onMessage)
            onMessage(text);
    }

    std::optional<QString> openFile(const QString &title, const QString &filter) override
    {
        fileDialogs << title + QLatin1Char('|') + filter;
        return nextFile;
    }

    QStringList messages;
    QStringList fileDialogs;         ///< "title|filter" of every file dialog shown
    std::optional<QString> nextFile; ///< what the next file dialog answers; empty: cancel
    std::function<void(const QString &text)> onMessage; ///< runs while the box would be open
};
