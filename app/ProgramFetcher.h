#pragma once
// The page fetcher the program's search uses: its own HTTP client.
#include <memory>

#include "search/pipeline/PageFetcher.h"

namespace app {

std::unique_ptr<search::PageFetcher> makeProgramFetcher();

}  // namespace app
