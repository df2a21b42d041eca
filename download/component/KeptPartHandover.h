#pragma once
// A song moving to another of its links keeps what it has of the file only
// when the new link provably serves the same file: its start is probed (the
// first 16 KiB, the whole length, the validators) and compared with the part
// file kept for the old link (CarryKeptPart); otherwise that part goes, and
// the song starts over. Blocks for at most the probe's time limit; any thread.
#include <string>

#include "download/inet/LinkProber.h"

namespace dl {

struct Handover {
    bool carried = false;  // the next download of the new link continues the part
    probe::LinkVerdict verdict;  // what the probe said of the new link
};

Handover HandKeptPartTo(const std::string& folder, const std::string& fromUrl, const std::string& name,
                        const std::string& toUrl, inet::LinkProber& prober);

// Settings for such a probe: those of every probe, the first bytes kept.
inet::ProbeSettings HandoverProbeSettings();

}  // namespace dl
