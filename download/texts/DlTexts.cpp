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

std::string InternetErrorText(int error) {
    static const std::map<int, const char*> texts = {
        {6, kTextStopped},
        {12001, "Out of handles"},
        {12002, "Timeout"},
        {12003, "Extended error"},
        {12004, "Internal error"},
        {12005, "Invalid URL"},
        {12006, "Unrecognized scheme"},
        {12007, "Name not resolved"},
        {12008, "Protocol not found"},
        {12009, "Invalid option"},
        {12010, "Bad option length"},
        {12011, "Option not settable"},
        {12012, "Shutdown"},
        {12013, "Incorrect user name"},
        {12014, "Incorrect password"},
        {12015, "Login failure"},
        {12016, "Invalid operation"},
        {12017, "Operation cancelled"},
        {12018, "Incorrect handle type"},
        {12019, "Incorrect handle state"},
        {12020, "Not proxy request"},
        {12021, "Registry value not found"},
        {12022, "Bad registry parameter"},
        {12023, "No direct access"},
        {12024, "No context"},
        {12025, "No callback"},
        {12026, "Request pending"},
        {12027, "Incorrect format"},
        {12028, "Item not found"},
        {12029, "Cannot connect"},
        {12030, "Connection aborted"},
        {12031, "Connection reset"},
        {12032, "Force retry"},
        {12033, "Invalid proxy request"},
    };
    if (error == 0) return {};
    const auto it = texts.find(error);
    return it != texts.end() ? it->second : withNumber(kTextInternetError, error);
}

std::string HttpStatusText(int status) {
    static const std::map<int, const char*> texts = {
        {400, "Bad request"},       {401, "Access denied"},     {403, "Access forbidden"},
        {404, "File not found"},    {405, "Bad method"},        {406, "None acceptable"},
        {407, "Proxy auth req"},    {408, "Request timeout"},   {409, "HTTP Conflict"},
        {410, "Gone"},              {411, "Auth refused"},      {412, kTextPrecondFailed},
        {413, "Request too large"}, {414, "URI too long"},      {415, "Unsupported media"},
        {500, "Server error"},      {501, "Not supported"},     {502, "Bad gateway"},
        {503, "Service unavailable"}, {504, "Gateway timeout"},
    };
    const auto it = texts.find(status);
    return it != texts.end() ? it->second : withNumber(kTextHttpError, status);
}

}  // namespace dl
