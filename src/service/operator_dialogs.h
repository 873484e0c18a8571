#pragma once

#include <QString>

#include <optional>

/**
 * The modal dialogs through which Scrivora talks to the operator. Passed in, so that tests
 * can record what the operator would see instead of blocking on a box.
 */
class OperatorDialogs
{
public:
    virtual ~OperatorDialogs() = default;

    /// A modal message box with the title "Scrivora" and an OK button only.
    virtual void messageBox(const QString &text) = 0;

    /**
     * A modal open-file dialog. @p filter is one entry such as "Script Bin Files(*.bin)".
     * Returns the chosen path, or nothing when the operator cancelled.
     */
    virtual std::optional<QString> openFile(const QString &title, const QString &filter) = 0;
};
