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

Handover HandKeptPartTo(const std::string& folder, const std::string& fromUrl, const std::string& name,
                        const std::string& toUrl, inet::LinkProber& prober) {
    Handover handover;
    const std::vector<inet::ProbeOutcome> probed = prober.probeAll({toUrl});
    if (probed.empty()) return handover;
    handover.verdict = probed.front().verdict;
    const probe::LinkVerdict& verdict = handover.verdict;
    // Only a link that serves audio is worth carrying the part to.
    if (verdict.state != probe::LinkState::Audio || !verdict.size) return handover;
    OtherLink to;
    to.url = toUrl;
    to.length = *verdict.size;
    to.firstBytes = probed.front().firstBytes;
    to.etag = verdict.etag;
    to.lastModified = verdict.lastModified;
    handover.carried = CarryKeptPart(ExpandFolder(folder), fromUrl, SafeDestinationName(name), to, std::time(nullptr));
    return handover;
}

}  // namespace dl
