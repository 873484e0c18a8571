#include "host_client.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments, const QString &workDir = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(240000);
    const QString output = QString::fromUtf8(process.readAll());
    if (!finished || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {-1, program + QStringLiteral(" did not finish: ") + output};
    }
    return {process.exitCode(), output};
}

struct Entry
{
    QString path;
    char type; // 'f' file, 'd' folder, 'l' symbolic link
    int mode;
    QString target;
};

// Everything the .deb holds, folders aside (those are all 0755).
QList<Entry> packagedEntries()
{
    QList<Entry> entries = {
        {"opt/scrivora/scrivora", 'f', 0755, {}},
        {"opt/scrivora/vantrel.ini.sample", 'f', 0644, {}},
        {"usr/bin/scrivora", 'l', 0777, "/opt/scrivora/scrivora"},
        {"usr/share/doc/scrivora/README.md", 'f', 0644, {}},
        {"usr/share/applications/com.vantrel.Scrivora.desktop", 'f', 0644, {}},
        {"etc/xdg/autostart/com.vantrel.Scrivora.desktop", 'f', 0644, {}},
        {"usr/share/metainfo/com.vantrel.Scrivora.metainfo.xml", 'f', 0644, {}},
        {"usr/lib/systemd/user/scrivora.service", 'f', 0644, {}},
        {"usr/share/icons/hicolor/scalable/apps/scrivora.svg", 'f', 0644, {}},
    };
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        entries.append({QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/scrivora.png").arg(size),
                        'f',
                        0644,
                        {}});
    return entries;
}

Entry entryAt(const QString &root, const QString &path)
{
    struct stat info = {};
    const QByteArray name = QFile::encodeName(root + '/' + path);
    if (lstat(name.constData(), &info) != 0)
        return {path, '-', 0, {}};
    if (!S_ISLNK(info.st_mode))
        return {path, S_ISDIR(info.st_mode) ? 'd' : 'f', int(info.st_mode & 07777), {}};
    QByteArray target(4096, '\0');
    target.resize(qMax<ssize_t>(0, readlink(name.constData(), target.data(), target.size())));
    return {path, 'l', int(info.st_mode & 07777), QFile::decodeName(target)};
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

} // namespace

// What a till gets from `make package`: the .deb taken apart as dpkg installs it, and the
// program in it started offscreen.
class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_scratch;
    const QString m_root = m_scratch.filePath(QStringLiteral("root"));
    const QString m_control = m_scratch.filePath(QStringLiteral("control"));
    const QString m_out = m_scratch.filePath(QStringLiteral("out"));
    QString m_deb;
    QString m_archive;
    QProcess m_scrivora;

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        const Run cpack =
            run(SCRIVORA_CPACK, {"--config", SCRIVORA_CPACK_CONFIG, "-B", m_out}, m_scratch.path());
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
        const QString arch = run("dpkg", {"--print-architecture"}).output.trimmed();
        m_deb = m_out + QStringLiteral("/scrivora_" SCRIVORA_VERSION "_%1.deb").arg(arch);
        QVERIFY2(QFile::exists(m_deb), qPrintable(cpack.output));
        const QStringList archives = QDir(m_out).entryList({"scrivora-*.tar.gz"}, QDir::Files);
        QCOMPARE(archives.size(), 1);
        m_archive = m_out + '/' + archives.first();
        QCOMPARE(run("dpkg", {"-x", m_deb, m_root}).exitCode, 0);
        QCOMPARE(run("dpkg", {"-e", m_deb, m_control}).exitCode, 0);
    }
    void cleanup()
    {
        m_scrivora.kill();
        m_scrivora.waitForFinished();
    }

    void files_data()
    {
        QTest::addColumn<QString>("path");
        for (const Entry &entry : packagedEntries())
            QTest::newRow(qPrintable(entry.path)) << entry.path;
    }
    void files()
    {
        QFETCH(QString, path);
        const QList<Entry> entries = packagedEntries();
        const auto expected = std::ranges::find(entries, path, &Entry::path);
        const Entry actual = entryAt(m_root, path);
        QCOMPARE(actual.type, expected->type);
        QCOMPARE(QString::number(actual.mode, 8), QString::number(expected->mode, 8));
        QCOMPARE(actual.target, expected->target);
        if (path.endsWith(".png")) {
            const int size = path.section('/', 4, 4).section('x', 0, 0).toInt();
            QCOMPARE(QImageReader(m_root + '/' + path).size(), QSize(size, size));
        }
    }
    // No header, library or test program slips in; every folder is root's and open to read.
    void nothingElse()
    {
        QStringList expected;
        for (const Entry &entry : packagedEntries())
            expected.append(entry.path);
        QStringList actual;
        QDirIterator it(m_root,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = QDir(m_root).relativeFilePath(it.next());
            if (const Entry entry = entryAt(m_root, path); entry.type == 'd')
                QVERIFY2(entry.mode == 0755, qPrintable(path));
            else
                actual.append(path);
        }
        expected.sort();
        actual.sort();
        QCOMPARE(actual, expected);
        const Run listing = run("dpkg-deb", {"--contents", m_deb});
        QCOMPARE(listing.exitCode, 0);
        QCOMPARE(listing.output.count(QStringLiteral(" root/root ")),
                 listing.output.count(QLatin1Char('\n')));
    }

    // Field, and a pattern its value must match.
    void controlFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pattern");
        const QString arch = run("dpkg", {"--print-architecture"}).output.trimmed();
        const auto depends = [](const char *package) {
            QTest::newRow(package) << "Depends" << QStringLiteral("(^|, )%1( |,|$)").arg(package);
        };
        QTest::newRow("Package") << "Package"
                                 << "^scrivora$";
        QTest::newRow("Version") << "Version"
                                 << "^" SCRIVORA_VERSION "$";
        QTest::newRow("Architecture") << "Architecture"
                                      << "^" + arch + "$";
        QTest::newRow("Maintainer") << "Maintainer"
                                    << "^\\S.* <[^ @]+@[^ @]+>$";
        QTest::newRow("Description") << "Description"
                                     << "\\w";
        depends("libqt6core6");
        depends("libqt6gui6");
        depends("libqt6widgets6");
        depends("libqt6network6");
        depends("libqt6serialport6");
        depends("libcurl4");
        depends("qt6-qpa-plugins");
        depends("adduser");
    }
    void controlFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, pattern);
        const QString value = run("dpkg-deb", {"--field", m_deb, field}).output.trimmed();
        QVERIFY2(QRegularExpression(pattern).match(value).hasMatch(),
                 qPrintable(field + ": " + value));
    }

    // The scripts that give the folder to the scrivora group and clear it on purge.
    void maintainerScripts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("postinst") << "postinst";
        QTest::newRow("postrm") << "postrm";
    }
    void maintainerScripts()
    {
        QFETCH(QString, script);
        const Entry entry = entryAt(m_control, script);
        QCOMPARE(entry.type, 'f');
        QCOMPARE(QString::number(entry.mode, 8), QStringLiteral("755"));
        QVERIFY(readAll(m_control + '/' + script).startsWith("#!/bin/sh\n"));
    }
    // The scripts run on a private, empty /opt with dpkg-statoverride and getent stubbed out:
    // the settings are made once from the sample, then kept until the package is purged.
    void maintainerScriptsKeepSettings_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("settingsBefore"); // empty: no vantrel.ini yet
        QTest::addColumn<QString>("filesAfter");
        QTest::addColumn<QString>("settingsAfter");  // "sample": a copy of the sample
        QTest::addColumn<QString>("settingsRights"); // octal mode and group; "-": none
        const QString ours = QStringLiteral("[Local]\nLocalPort=6000\n");
        const QString all = QStringLiteral("17.PCX vantrel.ini vantrel.ini.sample");
        const auto row = [](const char *name, const char *script, const char *argument,
                            const QString &before, const QString &files, const QString &after,
                            const char *rights) {
            QTest::newRow(name) << QString(script) << QString(argument) << before << files << after
                                << QString(rights);
        };
        // Made by the package: it may hold a password, so the till's group alone reads it.
        row("install", "postinst", "configure", {}, all, "sample", "640 scrivora");
        row("upgrade", "postinst", "configure", ours, all, ours, "644 root");
        row("remove", "postrm", "remove", ours, all, ours, "644 root");
        row("purge", "postrm", "purge", ours, "-", {}, "-");
    }
    void maintainerScriptsKeepSettings()
    {
        QFETCH(QString, script);
        QFETCH(QString, argument);
        QFETCH(QString, settingsBefore);
        QFETCH(QString, filesAfter);
        QFETCH(QString, settingsAfter);
        QFETCH(QString, settingsRights);
        if (getuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("needs root and unshare for a private /opt");
        const QString stubs = m_scratch.filePath("stubs");
        QDir().mkpath(stubs);
        for (const QString stub : {"getent", "dpkg-statoverride"}) {
            QFile file(stubs + '/' + stub);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\nexit 0\n");
            file.setPermissions(file.permissions() | QFile::ExeOwner);
        }
        const QString sandbox = QStringLiteral(
            "set -e; mount -t tmpfs scrivora-test /opt; mountpoint -q /opt; mkdir /opt/scrivora;"
            "grep -q ^scrivora: /etc/group || { cp /etc/group /opt/group;"
            " echo scrivora:x:64999: >>/opt/group; mount --bind /opt/group /etc/group; };"
            "cp \"$1\"/opt/scrivora/vantrel.ini.sample /opt/scrivora; touch /opt/scrivora/17.PCX;"
            "if [ -n \"$3\" ]; then printf %s \"$3\" >/opt/scrivora/vantrel.ini; fi;"
            "PATH=\"$4:$PATH\" \"$2\" \"$5\";"
            "echo $(ls /opt/scrivora 2>/dev/null || echo -);"
            "stat -c '%a %G' /opt/scrivora/vantrel.ini 2>/dev/null || echo -;"
            "cat /opt/scrivora/vantrel.ini 2>/dev/null || true");
        const Run scripts =
            run("unshare", {"--mount", "--propagation", "private", "sh", "-c", sandbox, "sh",
                            m_root, m_control + '/' + script, settingsBefore, stubs, argument});
        const QString sample = readAll(m_root + "/opt/scrivora/vantrel.ini.sample");
        QCOMPARE(scripts.output.section('\n', 0, 0), filesAfter);
        QCOMPARE(scripts.output.section('\n', 1, 1), settingsRights);
        QCOMPARE(scripts.output.section('\n', 2),
                 settingsAfter == "sample" ? sample : settingsAfter);
    }
    // dpkg keeps an administrator's changes only to conffiles, and every file in /etc is one.
    void etcHoldsConffilesOnly()
    {
        QStringList inEtc;
        for (const Entry &entry : packagedEntries()) {
            if (entry.path.startsWith("etc/"))
                inEtc.append('/' + entry.path);
        }
        QCOMPARE(readAll(m_control + "/conffiles").split('\n', Qt::SkipEmptyParts), inEtc);
    }
    // Debug mode would show card tracks and PIN blocks; no [pad] section, so one appended counts.
    void packagedSettings()
    {
        QSettings ini(m_root + "/opt/scrivora/vantrel.ini.sample", QSettings::IniFormat);
        QCOMPARE(ini.value("settings/debugMode").toString(), QStringLiteral("0"));
        QCOMPARE(ini.value("settings/debugModeOnly").toString(), QStringLiteral("0"));
        QCOMPARE(ini.value("Local/LocalPort").toString(), QStringLiteral("5000"));
        QVERIFY(!ini.childGroups().contains("pad", Qt::CaseInsensitive));
    }

    // Tool, arguments before the file, the file.
    void validates_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("path");
        QTest::newRow("menu entry") << "desktop-file-validate" << QStringList()
                                    << "usr/share/applications/com.vantrel.Scrivora.desktop";
        QTest::newRow("autostart") << "desktop-file-validate" << QStringList()
                                   << "etc/xdg/autostart/com.vantrel.Scrivora.desktop";
        QTest::newRow("metainfo") << "appstreamcli" << QStringList({"validate", "--no-net"})
                                  << "usr/share/metainfo/com.vantrel.Scrivora.metainfo.xml";
    }
    void validates()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QFETCH(QString, path);
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is not installed"));
        const Run check = run(tool, arguments << m_root + '/' + path);
        QVERIFY2(check.exitCode == 0, qPrintable(check.output));
        if (tool == "desktop-file-validate")
            QVERIFY2(check.output.isEmpty(), qPrintable(check.output));
    }
    // Menu, autostart and systemd unit all start the packaged program.
    void launchers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::newRow("menu entry") << "usr/share/applications/com.vantrel.Scrivora.desktop"
                                    << "Desktop Entry/Exec";
        QTest::newRow("autostart") << "etc/xdg/autostart/com.vantrel.Scrivora.desktop"
                                   << "Desktop Entry/Exec";
        QTest::newRow("systemd") << "usr/lib/systemd/user/scrivora.service"
                                 << "Service/ExecStart";
    }
    void launchers()
    {
        QFETCH(QString, path);
        QFETCH(QString, key);
        const QString program =
            QSettings(m_root + '/' + path, QSettings::IniFormat).value(key).toString();
        QCOMPARE(program, QStringLiteral("/opt/scrivora/scrivora"));
        QVERIFY(QFileInfo(m_root + program).isExecutable());
    }

    // The portable archive is one folder: the program, its settings and the README.
    void portableArchive()
    {
        const Run listing = run("tar", {"-tzf", m_archive});
        QCOMPARE(listing.exitCode, 0);
        const QString folder = QFileInfo(m_archive).completeBaseName().chopped(4) + '/';
        QStringList files = listing.output.split('\n', Qt::SkipEmptyParts);
        files.removeIf([](const QString &entry) { return entry.endsWith('/'); });
        files.sort();
        QCOMPARE(files,
                 QStringList({folder + "README.md", folder + "scrivora", folder + "vantrel.ini"}));
    }

    // The unpacked program, with settings of its own, listens and ends cleanly on SIGTERM.
    void unpackedProgramServes()
    {
        const QString home = m_root + "/opt/scrivora";
        const quint16 port = freePort();
        QFile ini(home + "/vantrel.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[Local]\nLocalPort=%1\n[settings]\ndebugMode=0\n")
                      .arg(port)
                      .toLatin1());
        ini.close();
        m_scrivora.setProcessChannelMode(QProcess::ForwardedChannels);
        m_scrivora.setWorkingDirectory(m_scratch.path());
        m_scrivora.start(home + "/scrivora", {});
        QVERIFY(m_scrivora.waitForStarted());
        bool listening = false;
        for (QDeadlineTimer deadline(30000); !listening && !deadline.hasExpired();) {
            QVERIFY2(m_scrivora.state() == QProcess::Running, "scrivora ended before it listened");
            listening = HostClient().connectTo(port, 200);
            if (!listening)
                QTest::qWait(100);
        }
        QVERIFY(listening);
        m_scrivora.terminate();
        QVERIFY(m_scrivora.waitForFinished(10000));
        QCOMPARE(m_scrivora.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_scrivora.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
