#include "pyftpd_server.h"

#include "temp_app_dir.h"

#include <QDir>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

#include <sys/prctl.h>

PyFtpdServer::PyFtpdServer(quint16 port, const QString &user, const QString &password)
    : m_port(port), m_user(user), m_password(password)
{
}

PyFtpdServer::~PyFtpdServer()
{
    m_process.kill();
    m_process.waitForFinished();
}

QString PyFtpdServer::ticketFolder() const
{
    return m_home.filePath(QStringLiteral("vm/miame/dsk37/170170/"));
}

QByteArray PyFtpdServer::stored(const QString &name) const
{
    return fileBytes(ticketFolder() + name);
}

bool PyFtpdServer::serves()
{
    if (m_process.state() == QProcess::NotRunning) {
        QDir().mkpath(ticketFolder());
        // Its own folder first on the module path, not whatever the test runs in.
        m_process.setWorkingDirectory(m_home.path());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test that dies must not leave the server holding the test's output open.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                         QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                         QStringLiteral("-w"), QStringLiteral("-d"), m_home.path(),
                         QStringLiteral("-u"), m_user, QStringLiteral("-P"), m_password});
    }
    return QTest::qWaitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            return probe.waitForReadyRead(1000) && probe.readAll().startsWith("220");
        },
        10000);
}
