#pragma once

#include <QObject>

/// The FTP client of the signature upload (work in progress).
class FtpClient : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
};
