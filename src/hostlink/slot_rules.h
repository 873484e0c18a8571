#pragma once

#include <QString>

#include <functional>
#include <optional>

/**
 * The port number that the LocalPort setting names: a whole number from 0 to 65535 in
 * decimal digits, with leading zeros, a plus sign or a fraction of zeros allowed ("05000",
 * "+5000" and "5000.0" are 5000). Nothing for any other text.
 */
std::optional<quint16> parseListenPort(const QString &text);

/**
 * The slot for a new connection: @p wanted (the incremented connection count) when it is
 * free, else the lowest free slot from 1 up. A slot stays occupied until its close has
 * been handled, so out-of-order closes never put two connections into one slot.
 */
qint16 slotForNewConnection(qint16 wanted, const std::function<bool(qint16)> &isOccupied);
