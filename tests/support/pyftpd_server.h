#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/**
 * Debian's pyftpdlib on loopback, serving a fresh home that holds the back office's ticket
 * folder to one user with write access. Runs /usr/bin/python3, since the first python3 on
 * the path may lack the module; the server dies with the test.
 */
class PyFtpdServer
{
public:
    PyFtpdServer(quint16 port, const QString &user, const QString &password);
    ~PyFtpdServer();
    PyFtpdServer(const PyFtpdServer &) = delete;
    PyFtpdServer &operator=(const PyFtpdServer &) = delete;

    /// Starts the server unless it runs, then waits for its greeting; false without one.
    bool serves();
    quint16 port() const { return m_port; }
    /// The server's home: what an upload to "/x" puts is home() + "/x".
    QString home() const { return m_home.path(); }
    /// The ticket folder on disk, ending with "/".
    QString ticketFolder() const;
    /// The bytes of @p name in the ticket folder; empty when it is not there.
    QByteArray stored(const QString &name) const;

private:
    quint16 m_port;
    QString m_user;
    QString m_password;
    QTemporaryDir m_home;
    QProcess m_process;
};
