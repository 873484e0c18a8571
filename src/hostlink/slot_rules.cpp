#include "hostlink/slot_rules.h"

std::optional<quint16> parseListenPort(const QString &text)
{
    // A whole number may be written with a plus sign or a fraction of zeros ("+5000.0").
    QStringView digits(text);
    if (digits.startsWith(QLatin1Char('+')))
        digits = digits.mid(1);
    if (const qsizetype point = digits.indexOf(QLatin1Char('.')); point >= 0) {
        for (const QChar character : digits.mid(point + 1)) {
            if (character != QLatin1Char('0'))
                return std::nullopt;
        }
        digits = digits.left(point);
    }
    if (digits.isEmpty())
        return std::nullopt;
    quint32 port = 0;
    for (const QChar character : digits) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return std::nullopt;
        port = port * 10 + quint32(character.unicode() - u'0');
        // Checked on every digit, so a long run of digits cannot overflow.
        if (port > 65535)
            return std::nullopt;
    }
    return quint16(port);
}

qint16 slotForNewConnection(qint16 wanted, const std::function<bool(qint16)> &isOccupied)
{
    if (wanted >= 1 && !isOccupied(wanted))
        return wanted;
    qint16 slot = 1;
    while (isOccupied(slot))
        ++slot;
    return slot;
}
