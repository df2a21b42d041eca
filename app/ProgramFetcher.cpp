#include "app/ProgramFetcher.h"

#include <stdexcept>

namespace app {
namespace {

// Until the HTTP client is linked in, every fetch fails and the search logs
// the failure for each page.
class UnavailableFetcher : public search::PageFetcher {
public:
    std::string fetch(const std::string&, const void*) override {
        throw std::runtime_error("page fetch client not built in");
    }
    void interrupt(const void*) override {}
};

}  // namespace

std::unique_ptr<search::PageFetcher> makeProgramFetcher() { return std::make_unique<UnavailableFetcher>(); }

}  // namespace app
