#include "hostlink/slot_rules.h"

std::optional<quint16> parseListenPort(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    quint32 port = 0;
    for (const QChar character : text) {
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
