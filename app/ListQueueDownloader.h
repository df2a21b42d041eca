#pragma once
// The downloads list's downloader: the engine's download queue, with a
// download collection of its own (no progress window), `atATime` songs at
// once, and the connection settings given.
#include <memory>

#include "app/ListDownloader.h"
#include "download/engine/TDlInternetOptions.h"

namespace app {

std::unique_ptr<ListDownloader> makeListQueueDownloader(int atATime, const dl::TDlInternetOptions& options);

}  // namespace app
