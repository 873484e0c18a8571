#include "pad/link_protocol.h"

namespace padlink {

namespace {

constexpr char EmptyWord[] = "\\e";
constexpr char HexDigits[] = "0123456789ABCDEF";

bool isPlainCharacter(char16_t unit)
{
    return unit > 0x20 && unit < 0x7f && unit != u'\\' && unit != u'<' && unit != u'>';
}

void appendHex(QByteArray &out, uint value, int digits)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.append(HexDigits[(value >> shift) & 0xf]);
}

int hexValue(char16_t digit)
{
    if (digit >= u'0' && digit <= u'9')
        return digit - u'0';
    if (digit >= u'A' && digit <= u'F')
        return digit - u'A' + 10;
    if (digit >= u'a' && digit <= u'f')
        return digit - u'a' + 10;
    return -1;
}

std::optional<uint> parseHex(QByteArrayView digits)
{
    uint value = 0;
    for (const char digit : digits) {
        const int nibble = hexValue(uchar(digit));
        if (nibble < 0)
            return std::nullopt;
        value = value * 16 + uint(nibble);
    }
    return value;
}

std::optional<quint32> parseSequence(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    quint64 value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + quint64(digit - '0');
    }
    if (value > 0xffffffffu)
        return std::nullopt;
    return quint32(value);
}

} // namespace

QByteArray escapeWord(const QString &text)
{
    if (text.isEmpty())
        return EmptyWord;
    QByteArray out;
    out.reserve(text.size());
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        if (isPlainCharacter(unit)) {
            out.append(char(unit));
        } else if (unit < 0x100) {
            out.append("\\x");
            appendHex(out, unit, 2);
        } else {
            out.append("\\u");
            appendHex(out, unit, 4);
        }
    }
    return out;
}

std::optional<QString> unescapeWord(QByteArrayView word)
{
    if (word == QByteArrayView(EmptyWord))
        return QString();
    if (word.isEmpty())
        return std::nullopt;
    QString text;
    text.reserve(word.size());
    for (qsizetype i = 0; i < word.size();) {
        const char byte = word[i];
        if (byte != '\\') {
            if (!isPlainCharacter(uchar(byte)))
                return std::nullopt;
            text.append(QChar(uchar(byte)));
            ++i;
            continue;
        }
        const char kind = i + 1 < word.size() ? word[i + 1] : '\0';
        const int digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 0;
        if (digits == 0 || i + 2 + digits > word.size())
            return std::nullopt;
        const std::optional<uint> unit = parseHex(word.sliced(i + 2, digits));
        if (!unit)
            return std::nullopt;
        text.append(QChar(char16_t(*unit)));
        i += 2 + digits;
    }
    return text;
}

quint16 frameChecksum(QByteArrayView payload)
{
    return qChecksum(payload, Qt::ChecksumItuV41);
}

QByteArray encodeFrame(const Frame &frame)
{
    QByteArray line;
    line.append(frame.kind == FrameKind::Request ? RequestMark : AnswerMark);
    line.append(QByteArray::number(frame.sequence));
    for (const QString &word : frame.words) {
        line.append(' ');
        line.append(escapeWord(word));
    }
    const quint16 checksum = frameChecksum(line);
    line.append('*');
    appendHex(line, checksum, 4);
    line.append('\n');
    return line;
}

std::optional<Frame> decodeLine(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    // Marks never occur inside a frame, so the last one starts the frame; anything before
    // it is the rest of an interrupted line or line noise.
    const qsizetype start = qMax(line.lastIndexOf(RequestMark), line.lastIndexOf(AnswerMark));
    if (start < 0)
        return std::nullopt;
    line = line.sliced(start);
    if (line.size() < 7 || line[line.size() - 5] != '*')
        return std::nullopt;
    const QByteArrayView payload = line.first(line.size() - 5);
    const std::optional<uint> checksum = parseHex(line.last(4));
    if (!checksum || *checksum != frameChecksum(payload))
        return std::nullopt;

    Frame frame;
    frame.kind = payload[0] == RequestMark ? FrameKind::Request : FrameKind::Answer;
    const QList<QByteArrayView> parts = [&] {
        QList<QByteArrayView> list;
        qsizetype from = 1;
        for (qsizetype space; (space = payload.indexOf(' ', from)) >= 0; from = space + 1)
            list.append(payload.sliced(from, space - from));
        list.append(payload.sliced(from));
        return list;
    }();
    const std::optional<quint32> sequence = parseSequence(parts.first());
    if (!sequence)
        return std::nullopt;
    frame.sequence = *sequence;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        std::optional<QString> word = unescapeWord(parts[i]);
        if (!word)
            return std::nullopt;
        frame.words.append(*word);
    }
    return frame;
}

QString bytesWord(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

std::optional<QByteArray> wordBytes(const QString &word)
{
    if (word.size() % 2 != 0)
        return std::nullopt;
    for (const QChar character : word) {
        if (hexValue(character.unicode()) < 0)
            return std::nullopt;
    }
    return QByteArray::fromHex(word.toLatin1());
}

void LineAssembler::append(QByteArrayView bytes)
{
    // Line by line, so that a run that grows too long is dropped whole even when its LF
    // arrives in the same read.
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const bool endsLine = end >= 0;
        const QByteArrayView piece = endsLine ? bytes.first(end + 1) : bytes;
        bytes = bytes.sliced(piece.size());
        if (m_skippingToLineEnd) {
            m_skippingToLineEnd = !endsLine;
            continue;
        }
        const qsizetype lineLength = m_tailLength + piece.size() - (endsLine ? 1 : 0);
        if (lineLength > MaxLineLength) {
            m_pending.chop(m_tailLength);
            m_tailLength = 0;
            m_skippingToLineEnd = !endsLine;
            ++m_overlongLines;
            continue;
        }
        m_pending.append(piece);
        m_tailLength = endsLine ? 0 : m_tailLength + piece.size();
    }
}

std::optional<QByteArray> LineAssembler::takeLine()
{
    const qsizetype end = m_pending.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    QByteArray line = m_pending.left(end);
    m_pending.remove(0, end + 1);
    return line;
}

void LineAssembler::clear()
{
    m_pending.clear();
    m_tailLength = 0;
    m_skippingToLineEnd = false;
}

} // namespace padlink
