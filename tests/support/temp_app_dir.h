#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

/// The whole contents of the file at @p path; empty when it cannot be read.
QByteArray fileBytes(const QString &path);

/// A throw-away application directory, optionally with a vantrel.ini in it.
class TempAppDir
{
public:
    TempAppDir() = default;
    explicit TempAppDir(const QString &iniText) { writeIni(iniText); }

    QString path() const { return m_dir.path(); }
    QString iniPath() const { return m_dir.filePath(QStringLiteral("vantrel.ini")); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    void writeIni(const QString &iniText) const;

    /// A settings file in debug mode that listens on a free loopback port.
    static QString debugIni(const QString &extra = {})
    {
        return QStringLiteral("[Local]\nLocalPort=0\n[settings]\ndebugMode=1\ndebugModeOnly=0\n") +
               extra;
    }

private:
    QTemporaryDir m_dir;
};
