#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

/**
 * The line protocol between Scrivora's serial pad driver and a pad (docs/pad-link.md).
 *
 * A frame is one line: a direction mark ('>' request, '<' answer), a sequence number,
 * words separated by single spaces, '*' and a CRC-16 of everything before it in four
 * upper-case hex digits, then LF. Words are escaped so that they never hold a space, a
 * direction mark or a control character; a receiver therefore finds the start of a frame
 * again after noise and drops every line that does not check out.
 */
namespace padlink {

/// The protocol version a driver offers in its hello and a pad confirms.
inline constexpr int Version = 1;
/// Longest line accepted; a longer run of bytes without LF is noise and thrown away.
inline constexpr qsizetype MaxLineLength = 256 * 1024;

inline constexpr char RequestMark = '>';
inline constexpr char AnswerMark = '<';
/// The first word of an answer whose call failed as a whole on the pad.
inline constexpr char FailureWord[] = "E";

enum class FrameKind
{
    Request,
    Answer
};

/// One decoded frame. For a request the first word is the verb; for an answer it is the
/// pad status in signed decimal, or FailureWord followed by a reason.
struct Frame
{
    FrameKind kind = FrameKind::Request;
    quint32 sequence = 0;
    QStringList words;

    bool operator==(const Frame &) const = default;
};

/// Escapes one word: code units outside '!'..'~' and the characters '\', '<', '>' become
/// \xHH (below 0x100) or \uHHHH; an empty text becomes the word \e.
QByteArray escapeWord(const QString &text);
/// Reverses escapeWord; nothing for a malformed escape or a character that must be escaped.
std::optional<QString> unescapeWord(QByteArrayView word);

/// The complete line for @p frame, LF included.
QByteArray encodeFrame(const Frame &frame);
/**
 * The frame held by @p line (without its LF; a trailing CR is ignored). Bytes before the
 * last direction mark are noise and skipped. Nothing when the line is no valid frame.
 */
std::optional<Frame> decodeLine(QByteArrayView line);

/// CRC-16 of a frame's payload as written before the '*'.
quint16 frameChecksum(QByteArrayView payload);

/// Byte data carried in a word: upper-case hex.
QString bytesWord(const QByteArray &bytes);
/// Nothing unless @p word is hex with an even number of digits.
std::optional<QByteArray> wordBytes(const QString &word);

/**
 * Cuts a byte stream into lines. Bytes arrive in pieces of any size; a line is complete at
 * its LF. A line that grows beyond MaxLineLength is dropped up to its LF.
 */
class LineAssembler
{
public:
    void append(QByteArrayView bytes);
    /// The next complete line without its LF, or nothing while none is complete.
    std::optional<QByteArray> takeLine();
    /// Forgets everything not yet taken.
    void clear();
    /// Lines dropped for being too long, since construction.
    int overlongLines() const { return m_overlongLines; }

private:
    QByteArray m_pending;
    qsizetype m_tailLength = 0; ///< bytes of the unfinished line at the end of m_pending
    bool m_skippingToLineEnd = false;
    int m_overlongLines = 0;
};

} // namespace padlink
