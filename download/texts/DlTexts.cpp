#include "download/texts/DlTexts.h"

#include <map>

namespace dl {

namespace {

std::string withNumber(const char* pattern, int number) {
    std::string text(pattern);
    text.replace(text.find("%d"), 2, std::to_string(number));
    return text;
}

}  // namespace

std::string InternetErrorText(std::int32_t code) {
    static const std::map<std::int32_t, const char*> texts = {
        {kErrStopped, "Stopped"},
        {kErrSizeLimit, "Size limit"},
        {kErrTooOld, "URL is olded"},
        {kErrDiskFull, "Disk full"},
        {kErrWriteAccessDenied, "Write access denied"},
        {kErrFileNameTooLong, "File name too long"},
        {kErrInvalidFileName, "Invalid file name"},
        {kErrFileWriteError, "File write error"},
        {kErrNotAudio, "Not MPEG audio"},
        {kErrPrecondFailed, "Precond failed"},
        {kErrOutOfHandles, "Out of handles"},
        {kErrTimeout, "Timeout"},
        {kErrExtendedError, "Extended error"},
        {kErrInternalError, "Internal error"},
        {kErrInvalidUrl, "Invalid URL"},
        {kErrUnrecognizedScheme, "Unrecognized scheme"},
        {kErrNameNotResolved, "Name not resolved"},
        {kErrProtocolNotFound, "Protocol not found"},
        {kErrInvalidOption, "Invalid option"},
        {kErrBadOptionLength, "Bad option length"},
        {kErrOptionNotSettable, "Option not settable"},
        {kErrShutdown, "Shutdown"},
        {kErrIncorrectUserName, "Incorrect user name"},
        {kErrIncorrectPassword, "Incorrect password"},
        {kErrLoginFailure, "Login failure"},
        {kErrInvalidOperation, "Invalid operation"},
        {kErrOperationCancelled, "Operation cancelled"},
        {kErrIncorrectHandleType, "Incorrect handle type"},
        {kErrIncorrectHandleState, "Incorrect handle state"},
        {kErrNotProxyRequest, "Not proxy request"},
        {kErrRegistryValueNotFound, "Registry value not found"},
        {kErrBadRegistryParameter, "Bad registry parameter"},
        {kErrNoDirectAccess, "No direct access"},
        {kErrNoContext, "No context"},
        {kErrNoCallback, "No callback"},
        {kErrRequestPending, "Request pending"},
        {kErrIncorrectFormat, "Incorrect format"},
        {kErrItemNotFound, "Item not found"},
        {kErrCannotConnect, "Cannot connect"},
        {kErrConnectionAborted, "Connection aborted"},
        {kErrConnectionReset, "Connection reset"},
        {kErrForceRetry, "Force retry"},
        {kErrInvalidProxyRequest, "Invalid proxy request"},
    };
    if (code == kErrNone) return {};
    const auto it = texts.find(code);
    return it != texts.end() ? it->second : withNumber(kTextInternetError, code);
}

std::string HttpStatusText(int status) {
    static const std::map<int, const char*> texts = {
        {400, "Bad request"},       {401, "Access denied"},     {403, "Access forbidden"},
        {404, "File not found"},    {405, "Bad method"},        {406, "None acceptable"},
        {407, "Proxy auth req"},    {408, "Request timeout"},   {409, "HTTP Conflict"},
        {410, "Gone"},              {411, "Auth refused"},      {412, "Precond failed"},
        {413, "Request too large"}, {414, "URI too long"},      {415, "Unsupported media"},
        {500, "Server error"},      {501, "Not supported"},     {502, "Bad gateway"},
        {503, "Service unavailable"}, {504, "Gateway timeout"},
    };
    const auto it = texts.find(status);
    return it != texts.end() ? it->second : withNumber(kTextHttpError, status);
}

}  // namespace dl
