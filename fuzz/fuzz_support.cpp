#include "fuzz_support.h"

#include <cstdlib>

#include <unistd.h>

namespace {

// Taken before libFuzzer's main can close standard error for a chatty target.
const int reportDescriptor = ::dup(STDERR_FILENO);

} // namespace

void fuzzFailure(const QString &what)
{
    const QByteArray line = "FUZZ PROPERTY BROKEN: " + what.toUtf8() + '\n';
    const int descriptor = reportDescriptor >= 0 ? reportDescriptor : STDERR_FILENO;
    [[maybe_unused]] const ssize_t written =
        ::write(descriptor, line.constData(), size_t(line.size()));
    std::abort();
}
