#include "download/component/KeptPartHandover.h"

#include <ctime>

#include "download/files/DlFileNames.h"
#include "download/files/KeptPart.h"

namespace dl {

inet::ProbeSettings HandoverProbeSettings() {
    inet::ProbeSettings settings;
    settings.keepFirstBytes = true;
    return settings;
}

namespace {

bool carry(const std::string& folder, const std::string& fromUrl, const std::string& name,
           const std::string& toUrl, const inet::ProbeOutcome& probed) {
    const probe::LinkVerdict& verdict = probed.verdict;
    // Only a link that serves audio is worth carrying the part to.
    if (verdict.state != probe::LinkState::Audio || !verdict.size) return false;
    OtherLink to;
    to.url = toUrl;
    to.length = *verdict.size;
    to.firstBytes = probed.firstBytes;
    to.etag = verdict.etag;
    to.lastModified = verdict.lastModified;
    return CarryKeptPart(folder, fromUrl, name, to, std::time(nullptr));
}

}  // namespace

Handover HandKeptPartTo(const std::string& folder, const std::string& fromUrl, const std::string& name,
                        const std::string& toUrl, inet::LinkProber& prober) {
    Handover handover;
    const std::vector<inet::ProbeOutcome> probed = prober.probeAll({toUrl});
    if (probed.empty()) return handover;
    handover.verdict = probed.front().verdict;
    const std::string where = ExpandFolder(folder);
    const std::string kept = SafeDestinationName(name);
    handover.carried = carry(where, fromUrl, kept, toUrl, probed.front());
    // Otherwise the song starts over on the new link: the old bytes are no use.
    if (!handover.carried) DropKeptPart(where, fromUrl, kept, std::time(nullptr));
    return handover;
}

}  // namespace dl
