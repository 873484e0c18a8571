#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

/// The fuzzer's input as a deep copy: Qt containers may outlive the call.
inline QByteArray fuzzInput(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

/**
 * Reports that the code under test broke a property it promises, then aborts, so that
 * libFuzzer keeps the input as a reproducer. The message reaches the terminal even when the
 * fuzzer was told to silence standard error (-close_fd_mask=2).
 */
[[noreturn]] void fuzzFailure(const QString &what);

/// fuzzFailure(@p what) unless @p holds.
inline void fuzzCheck(bool holds, const char *what)
{
    if (!holds)
        fuzzFailure(QString::fromUtf8(what));
}
