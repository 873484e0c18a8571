#pragma once

#include "signature/signature_image.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class PadLinkServer;
class VirtualPadModel;

/**
 * The control interface of the pad emulator: one command per line, played as the customer
 * or the cable would, whatever form the pad shows.
 *
 *   swipe [TRACK1 [TRACK2]]   fill TRACK1 and TRACK2 (no words: a sample card)
 *   pin BLOCK                 fill PIN (the next read of PIN takes it out)
 *   sign [STROKES]            fill SIGCOMP (no words: a sample signature)
 *   unplug / replug           stop and resume answering on the line
 *   quit                      end the program
 *
 * Words are separated by spaces; inside a word "\\" is a backslash and "\xHH" the character
 * with that code (so "\x20" is a space). STROKES are points "x,y" joined by ";", strokes
 * joined by "/": "10,10;40,30/50,10;50,40".
 */
class ControlCommands : public QObject
{
    Q_OBJECT

public:
    ControlCommands(std::shared_ptr<VirtualPadModel> model, PadLinkServer &server,
                    QObject *parent = nullptr);

    /// Carries out @p line; on a line that is no command, returns why and changes nothing.
    std::optional<QString> run(const QString &line);

signals:
    void quitRequested();

private:
    std::optional<QString> swipe(const QStringList &words);
    std::optional<QString> sign(const QStringList &words);

    std::shared_ptr<VirtualPadModel> m_model;
    PadLinkServer &m_server;
};

/// The words of a command line, unescaped; nothing when an escape is malformed.
std::optional<QStringList> commandWords(const QString &line);

/// The strokes written as "x,y;x,y/x,y"; nothing when the text is no such list or a point
/// lies outside the signature area.
std::optional<SignatureStrokes> parseStrokes(const QString &text);
