#include "download/texts/DlProgressText.h"

#include <algorithm>

#include "download/values/AddressText.h"

namespace dl {

std::string DownloadLabelText(const std::string& url) {
    const std::size_t cut = url.find_last_of("/\\:");
    const std::string filePart = cut == std::string::npos ? url : url.substr(cut + 1);
    std::string scheme, host;
    SplitSchemeAndHost(url, scheme, host);
    return filePart + " from " + host;
}

int ProgressPosition(int step, std::int64_t sum, int count) {
    const std::int64_t numerator = static_cast<std::int64_t>(step) * sum;
    const std::int64_t denominator = static_cast<std::int64_t>(std::max(count, 1)) * 100;
    std::int64_t quotient = numerator / denominator;
    std::int64_t rest = numerator % denominator;
    if (rest < 0) {  // floor division for a negative step
        rest += denominator;
        --quotient;
    }
    if (2 * rest > denominator || (2 * rest == denominator && quotient % 2 != 0)) ++quotient;
    return static_cast<int>(quotient);
}

}  // namespace dl
