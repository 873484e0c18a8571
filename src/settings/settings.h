#pragma once

#include <QString>

/// The settings file's name; it lies beside the executable.
inline constexpr char SettingsFileName[] = "vantrel.ini";

/// A Boolean as the settings file, the status list and the logs write it.
QString trueFalseWord(bool value);

/**
 * What the program reads once, at start: the debug modes, the host port and address and
 * the pad driver. Each read that failed is flagged so that start-up can tell the operator
 * at the point of its sequence where the message belongs.
 */
struct Settings
{
    QString iniFile; ///< full path of the settings file

    bool debugMode = false;
    bool debugModeOnly = false;
    bool debugModeUnreadable = false;     ///< the debugMode read failed
    bool debugModeOnlyUnreadable = false; ///< the debugModeOnly read failed

    QString localPort; ///< as written; the text "LocalPort" when the key is missing
    bool localPortUnreadable = false;
    QString listenAddress; ///< empty: loopback only

    QString padDriver = QStringLiteral("virtual"); ///< lower-case, trimmed
    QString padDevice;                             ///< the serial device of Driver=serial
};

/// Reads every start-up setting from @p iniFile; a missing file or key gives the defaults.
Settings readSettings(const QString &iniFile);

/// The pad driver as people are shown it: "virtual", or "serial" and its device.
QString padDescription(const Settings &settings);

/// The FTP settings of section [remote]; read afresh for every signature.
struct RemoteSettings
{
    QString ftpURL;
    QString ftpUser;
    QString ftpPass;
};

/// Reads section [remote] of @p iniFile now; missing keys or file give empty texts.
RemoteSettings readRemoteSettings(const QString &iniFile);
