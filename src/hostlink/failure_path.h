#pragma once

#include "hostlink/host_reply.h"
#include "pad/pad_driver.h"

#include <QString>

#include <exception>
#include <optional>

/// Shut-down has begun: a wait ends, and the capture or upload around it ends without a reply.
class ShutDownInProgress : public std::exception
{
public:
    const char *what() const noexcept override { return "shutting down"; }
};

/// How an operation that ran under the catch-all ended early.
enum class FailureKind
{
    PadCall,      ///< a pad driver call failed as a whole
    ReplyNotSent, ///< a reply found no open host connection
    ShutDown,     ///< the program is shutting down
    Other         ///< anything else (a file, an overflow, a library error)
};

struct CaughtFailure
{
    FailureKind kind = FailureKind::Other;
    QString message;
};

/**
 * The one catch-all of the program. Runs @p call; whatever it throws ends it there and
 * comes back as the kind of failure with its text, so that the caller's failure path can
 * report it the way it must. Nothing is passed on: no exception leaves an event handler.
 *
 * @return nothing when @p call ran to its end.
 */
template <typename Call> std::optional<CaughtFailure> runCatchAll(Call &&call) noexcept
{
    try {
        call();
        return std::nullopt;
    } catch (const ShutDownInProgress &) {
        return CaughtFailure{FailureKind::ShutDown, QStringLiteral("shutting down")};
    } catch (const ReplyNotSent &error) {
        return CaughtFailure{FailureKind::ReplyNotSent, QString::fromLocal8Bit(error.what())};
    } catch (const PadError &error) {
        return CaughtFailure{FailureKind::PadCall, QString::fromLocal8Bit(error.what())};
    } catch (const std::exception &error) {
        return CaughtFailure{FailureKind::Other, QString::fromLocal8Bit(error.what())};
    } catch (...) {
        return CaughtFailure{FailureKind::Other, QStringLiteral("unknown failure")};
    }
}
