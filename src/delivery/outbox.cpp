#include "delivery/outbox.h"

#include "delivery/retry_schedule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString RecordSuffix = u".json"_s;

QString notUploadedLine(const QString &jobId, const QString &reason)
{
    return u"Outbox: job %1 not uploaded (%2), kept for retry"_s.arg(jobId, reason);
}

QString replacedLine(const QString &jobId)
{
    return u"Outbox: job %1 replaced by a newer signature"_s.arg(jobId);
}

/// A name that stays inside outbox/ and cannot be taken for a record.
bool isPlainCopyName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') &&
           !name.endsWith(RecordSuffix);
}

bool isReadableCopy(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() > 0;
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

Outbox::Outbox(const QString &appDir, Clock clock, QObject *parent)
    : QObject(parent), m_folder(QDir(appDir).filePath(u"outbox"_s)), m_clock(std::move(clock))
{
}

void Outbox::load()
{
    m_entries.clear();
    m_inFlight.clear();
    const QStringList files = QDir(m_folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QSet<QString> accounted;
    for (const QString &fileName : files) {
        QString copyName;
        const std::optional<OutboxEntry> entry =
            fileName.endsWith(RecordSuffix) ? readRecord(fileName, copyName) : std::nullopt;
        if (!entry)
            continue;
        accounted << fileName << copyName;
        // Only a crash between keeping a newer copy and dropping the older leaves two.
        if (const OutboxEntry *other = findJob(entry->jobId)) {
            emit operatorLine(replacedLine(entry->jobId));
            if (entry->firstFailure < other->firstFailure) {
                removeFiles(*entry);
                continue;
            }
            remove(other->name);
        }
        m_entries.insert(entry->name, *entry);
    }
    // What is left is a damaged record, or a copy without one; a record and its copy share
    // the name before the first dot and go aside together.
    QMap<QString, QStringList> damaged;
    for (const QString &fileName : files)
        if (!accounted.contains(fileName))
            damaged[fileName.section(u'.', 0, 0)] << fileName;
    for (auto it = damaged.cbegin(); it != damaged.cend(); ++it)
        moveToDamaged(it.key(), it.value());
    for (OutboxEntry &entry : m_entries)
        entry.nextDue = now();
    emit changed();
}

bool Outbox::add(const QString &jobId, const QString &localFile, const QString &remoteName,
                 const QString &reason)
{
    const std::optional<OutboxEntry> entry = keepCopy(jobId, localFile, remoteName, reason, false);
    if (!entry) {
        emit operatorLine(u"Outbox: job %1 not uploaded (%2), and it could not be kept in %3"_s.arg(
            jobId, reason, m_folder));
        return false;
    }
    // The newer copy is safe on disk before the older one goes.
    if (findJob(jobId)) {
        dropJob(jobId);
        emit operatorLine(replacedLine(jobId));
    }
    m_entries.insert(entry->name, *entry);
    emit operatorLine(notUploadedLine(jobId, reason));
    emit changed();
    return true;
}

void Outbox::landed(const QString &jobId, const QString &landedFile)
{
    const OutboxEntry *older = findJob(jobId);
    if (!older)
        return;
    // A retry under way may still store the older copy after the newer one landed.
    const std::optional<OutboxEntry> resend =
        older->name == m_inFlight ? keepCopy(jobId, landedFile, older->remoteName,
                                             u"sent again after an older copy"_s, true)
                                  : std::nullopt;
    dropJob(jobId);
    emit operatorLine(replacedLine(jobId));
    if (resend)
        m_entries.insert(resend->name, *resend);
    emit changed();
}

QList<OutboxEntry> Outbox::entries() const
{
    QList<OutboxEntry> list = m_entries.values();
    std::stable_sort(list.begin(), list.end(), [](const OutboxEntry &a, const OutboxEntry &b) {
        return a.firstFailure < b.firstFailure;
    });
    return list;
}

std::optional<OutboxEntry> Outbox::due() const
{
    const QDateTime time = now();
    std::optional<OutboxEntry> best;
    for (const OutboxEntry &entry : m_entries)
        if (entry.nextDue <= time && (!best || entry.nextDue < best->nextDue))
            best = entry;
    return best;
}

void Outbox::makeAllDue()
{
    for (OutboxEntry &entry : m_entries)
        entry.nextDue = now();
    emit changed();
}

void Outbox::makeDue(const QString &name)
{
    const auto it = m_entries.find(name);
    if (it == m_entries.end())
        return;
    it->nextDue = now();
    emit changed();
}

void Outbox::attemptStarted(const QString &name)
{
    m_inFlight = name;
}

void Outbox::attemptEnded(const QString &name, bool landed, const QString &reason)
{
    if (name == m_inFlight)
        m_inFlight.clear();
    const auto it = m_entries.find(name);
    if (it == m_entries.end())
        return;
    OutboxEntry &entry = *it;
    ++entry.attempts;
    if (landed) {
        const QString line =
            u"Outbox: job %1 uploaded after %2 attempts"_s.arg(entry.jobId).arg(entry.attempts);
        const bool news = !entry.resend;
        remove(name);
        if (news)
            emit operatorLine(line);
        emit changed();
        return;
    }
    // A server down for a day would otherwise fill the status list with the same line.
    const bool news = reason != entry.lastError;
    entry.lastError = reason;
    entry.nextDue = now().addSecs(retryDelay(entry.attempts).count());
    writeRecord(entry);
    if (news)
        emit operatorLine(notUploadedLine(entry.jobId, reason));
    emit changed();
}

void Outbox::attemptAbandoned(const QString &name)
{
    if (name == m_inFlight)
        m_inFlight.clear();
}

std::optional<OutboxEntry> Outbox::readRecord(const QString &recordName, QString &copyName) const
{
    QFile file(QDir(m_folder).filePath(recordName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    copyName = json.value(u"copy"_s).toString();
    if (!isPlainCopyName(copyName)) {
        copyName.clear();
        return std::nullopt;
    }
    OutboxEntry entry;
    entry.name = recordName.chopped(RecordSuffix.size());
    entry.jobId = json.value(u"job"_s).toString();
    entry.remoteName = json.value(u"remote"_s).toString();
    entry.copyPath = QDir(m_folder).filePath(copyName);
    entry.firstFailure =
        QDateTime::fromString(json.value(u"firstFailure"_s).toString(), Qt::ISODateWithMs);
    entry.attempts = json.value(u"attempts"_s).toInt(0);
    entry.lastError = json.value(u"lastError"_s).toString();
    entry.nextDue = QDateTime::fromString(json.value(u"nextDue"_s).toString(), Qt::ISODateWithMs);
    entry.resend = json.value(u"resend"_s).toBool(false);
    if (entry.jobId.isEmpty() || entry.remoteName.isEmpty() || !entry.firstFailure.isValid() ||
        entry.attempts < 1 || !entry.nextDue.isValid() || !isReadableCopy(entry.copyPath))
        return std::nullopt;
    return entry;
}

bool Outbox::writeRecord(const OutboxEntry &entry) const
{
    const QJsonObject json{
        {u"job"_s, entry.jobId},
        {u"remote"_s, entry.remoteName},
        {u"copy"_s, QFileInfo(entry.copyPath).fileName()},
        {u"firstFailure"_s, isoTime(entry.firstFailure)},
        {u"attempts"_s, entry.attempts},
        {u"lastError"_s, entry.lastError},
        {u"nextDue"_s, isoTime(entry.nextDue)},
        {u"resend"_s, entry.resend},
    };
    // Written aside and renamed: a crash never leaves half a record.
    QSaveFile file(recordPath(entry.name));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(json).toJson()) >= 0 &&
           file.commit();
}

QString Outbox::uniqueName(const QString &jobId) const
{
    static const QRegularExpression unsafe(u"[^A-Za-z0-9_-]"_s);
    QString job = jobId.left(40);
    job.replace(unsafe, u"_"_s);
    const QString stem =
        (job.isEmpty() ? u"job"_s : job) + u'-' + now().toUTC().toString(u"yyyyMMdd-HHmmsszzz"_s);
    const QDir dir(m_folder);
    QString name = stem;
    // Names are checked by prefix so that a copy of any suffix is never overwritten.
    for (int n = 2; !dir.entryList({name + u".*"_s}, QDir::Files | QDir::Hidden).isEmpty() ||
                    m_entries.contains(name);
         ++n)
        name = stem + u'-' + QString::number(n);
    return name;
}

QString Outbox::recordPath(const QString &name) const
{
    return QDir(m_folder).filePath(name + RecordSuffix);
}

void Outbox::moveToDamaged(const QString &name, const QStringList &fileNames)
{
    const QDir dir(m_folder);
    dir.mkpath(u"damaged"_s);
    for (const QString &fileName : fileNames) {
        QString target = dir.filePath(u"damaged/"_s + fileName);
        for (int n = 2; QFileInfo::exists(target); ++n)
            target = dir.filePath(u"damaged/%1.%2"_s.arg(fileName).arg(n));
        QFile::rename(dir.filePath(fileName), target);
    }
    emit operatorLine(u"Outbox: damaged entry %1 moved to outbox/damaged"_s.arg(name));
}

void Outbox::remove(const QString &name)
{
    const auto it = m_entries.find(name);
    if (it == m_entries.end())
        return;
    removeFiles(*it);
    m_entries.erase(it);
}

void Outbox::removeFiles(const OutboxEntry &entry) const
{
    // The record goes first: a copy left by a crash is reported, never retried blindly.
    QFile::remove(recordPath(entry.name));
    QFile::remove(entry.copyPath);
}

void Outbox::dropJob(const QString &jobId)
{
    if (const OutboxEntry *entry = findJob(jobId))
        remove(entry->name);
}

const OutboxEntry *Outbox::findJob(const QString &jobId) const
{
    const auto it =
        std::find_if(m_entries.cbegin(), m_entries.cend(),
                     [&jobId](const OutboxEntry &entry) { return entry.jobId == jobId; });
    return it == m_entries.cend() ? nullptr : &*it;
}

std::optional<OutboxEntry> Outbox::keepCopy(const QString &jobId, const QString &localFile,
                                            const QString &remoteName, const QString &reason,
                                            bool resend)
{
    if (!QDir().mkpath(m_folder))
        return std::nullopt;
    QString suffix = QFileInfo(localFile).suffix();
    if (suffix.isEmpty() || suffix.compare(u"json"_s, Qt::CaseInsensitive) == 0)
        suffix = u"sig"_s;
    OutboxEntry entry;
    entry.name = uniqueName(jobId);
    entry.jobId = jobId;
    entry.remoteName = remoteName;
    entry.copyPath = QDir(m_folder).filePath(entry.name + u'.' + suffix);
    entry.firstFailure = now();
    entry.lastError = reason;
    entry.nextDue = resend ? now() : now().addSecs(retryDelay(1).count());
    entry.resend = resend;
    if (QFile::copy(localFile, entry.copyPath) && isReadableCopy(entry.copyPath) &&
        writeRecord(entry))
        return entry;
    QFile::remove(entry.copyPath);
    return std::nullopt;
}
