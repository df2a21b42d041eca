#pragma once
// A probe's verdict on a link as the store keeps it, and back: the grid's
// checks and the downloads list both keep what they learn of a link there.
#include <cstdint>
#include <string>

#include "download/probe/LinkVerdict.h"
#include "store/LinkVerdictStore.h"

namespace app {

store::StoredVerdict toStored(const std::string& url, const probe::LinkVerdict& verdict, std::int64_t checkedAt);
probe::LinkVerdict fromStored(const store::StoredVerdict& stored);

}  // namespace app
