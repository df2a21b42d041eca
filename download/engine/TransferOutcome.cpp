#include "download/engine/TransferOutcome.h"

#include "download/engine/ItemTransferRules.h"
#include "download/texts/DownloadErrors.h"

namespace dl {

FailureClass ClassOfFailure(std::int32_t errorCode, std::int32_t statusCode) {
    switch (errorCode) {
    case kErrNone: return FailureClass::None;
    case kErrStopped:
    case kErrOperationCancelled: return FailureClass::UserStopped;
    case kErrServerRefused:
        // Status 0: not connected, nothing was tried.
        if (statusCode == 0) return FailureClass::HostUnreachable;
        if (statusCode == 404 || statusCode == 410) return FailureClass::LinkDead;
        if (IsRetriedStatus(statusCode)) return FailureClass::ServerFailing;
        return FailureClass::NotWhatWasAsked;
    case kErrDiskFull:
    case kErrWriteAccessDenied:
    case kErrFileNameTooLong:
    case kErrInvalidFileName:
    case kErrFileWriteError: return FailureClass::DiskFailed;
    case kErrNotAudio: return FailureClass::NotAudio;
    case kErrInvalidUrl:
    case kErrUnrecognizedScheme:
    case kErrItemNotFound: return FailureClass::LinkDead;
    case kErrNameNotResolved:
    case kErrCannotConnect:
    case kErrInvalidCa:
    case kErrSecurityChannel: return FailureClass::HostUnreachable;
    case kErrTimeout:
    case kErrConnectionAborted:
    case kErrConnectionReset:
    case kErrInvalidServerResponse: return FailureClass::ServerFailing;
    default: return FailureClass::NotWhatWasAsked;
    }
}

}  // namespace dl
