#pragma once
// Part files a later run can continue. A song's part file has beside it,
// from its first byte on, what identifies the song those bytes are the start
// of (the address asked, the name the file is for, the validators and length
// the server gave, the bytes held), so that the next download of the same
// address to the same name can ask the server for the rest instead of
// starting over: after it failed or was stopped (the part file is then
// kept, its bytes synced), and after the program was killed or the machine
// lost power in the middle (what the identity's checkpoints vouch for). The
// identity is a small text file read back from disk, so it is read strictly:
// a file that is not exactly one is no identity, and its part file is taken
// for one left behind.
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/files/PartFile.h"

namespace dl {

struct PartIdentity {
    std::string url;           // the address asked
    std::string name;          // the file name in the folder the bytes are for
    std::string etag;          // of the answer the bytes came with; may be empty
    std::string lastModified;  // its text; may be empty
    std::uint64_t length = 0;  // the song's whole length; 0: not known
    // The bytes of the part file on the disk for sure (synced): all of them,
    // at least 1, in a kept part file; in one being written, those of its
    // last checkpoint (0 before the first).
    std::uint64_t held = 0;
    // Empty in a kept part file. In one being written, the boot of the
    // system writing it (CurrentBootId): a program killed during that boot
    // left every byte it wrote, which the system still has; a power cut or
    // a new boot leaves only the bytes held.
    std::string boot;

    bool operator==(const PartIdentity&) const = default;
};

// An identity file is never longer than this; a longer one is none.
constexpr std::size_t kMaxIdentityBytes = 16 * 1024;
// A kept part file not written for this long goes.
constexpr std::time_t kKeptPartLifetime = 7 * 24 * 3600;

// A part file being written is synced, and its identity written anew with
// the bytes synced as held, once this long has passed since the last
// checkpoint with some bytes written.
constexpr std::int64_t kCheckpointMs = 5000;

// The identity as its file holds it: a first line (form 1 for a kept part
// file, as the earlier version wrote it; form 2, with the boot, for one
// being written), one line per field with every byte outside "!" to "~" and
// every "%" written as %XX, and a last line.
std::string EncodePartIdentity(const PartIdentity& identity);
// The identity a file holds, or nothing when it is not exactly one: fields
// missing, repeated, out of order or unknown, bad escapes, numbers that are
// not plain decimals or do not fit, no address or name, a name that is not
// one file name, validators, address or boot with control bytes, a boot in
// form 1 or none (or one of more than 64 bytes) in form 2, no bytes held in
// form 1, or all of the song held or more.
std::optional<PartIdentity> ParsePartIdentity(std::string_view text);

// This boot of the system (/proc/sys/kernel/random/boot_id); empty when it
// cannot be read, and then no identity is written before the first
// checkpoint.
const std::string& CurrentBootId();

// The bytes of a part file of `size` bytes that can be taken up: all of
// them when the program writing it was killed in this boot, else those the
// identity holds; never the whole song (the last byte is asked for again, so
// that the server vouches for the rest). 0: none.
std::uint64_t TrustedBytes(const PartIdentity& identity, std::uint64_t size, const std::string& boot);

// The identity kept beside the part file at `partPath`, when there is one.
std::optional<PartIdentity> ReadPartIdentity(const std::string& partPath);

// The download now running in a folder, as the sweep of that folder sees it.
struct AskedDownload {
    std::string url;
    std::string name;
    bool continuing = true;  // it continues a part file kept for it
};

// Removes from `folder` the part files no running program holds that are
// not worth keeping: those without an identity (a download that could not
// have been continued, left by a program that ended in the middle), those
// with nothing to take up, those not written for kKeptPartLifetime, and
// those the download
// now running there (`asked`, when there is one) has made useless: kept for
// its name under another address, or for its address under another name;
// kept for both when it does not continue; and of several kept for both,
// all but the one holding most. Identity files without their part file, and
// ".next" files whose part file nobody holds, go too. Returns how many part
// files went.
int SweepPartFiles(const std::string& folder, const AskedDownload* asked, std::time_t now);

struct KeptPart {
    std::unique_ptr<PartFile> file;
    // `held`: the bytes taken up (TrustedBytes); the file holds just those.
    PartIdentity identity;
    // Of those, the bytes known to be on the disk.
    std::uint64_t synced = 0;
    // This program kept it (KeepPartFile, after a stop or a failure), rather
    // than one before it (closed, killed or crashed).
    bool keptHere = false;
};

// The part file kept (or left by a program that was killed) in `folder`
// for `url` and `name`, now this program's: locked, cut to the bytes it may
// be trusted with. Its identity stays until the taker writes its own or
// removes the file. Nothing when there is none, or another program holds it.
std::optional<KeptPart> TakeUpKeptPart(const std::string& folder, const std::string& url, const std::string& name,
                                       std::time_t now);

// What another address of a song serves, as a probe of its start saw it.
struct OtherLink {
    std::string url;
    std::uint64_t length = 0;  // the whole file's; 0: not known
    std::string firstBytes;    // from byte 0 on, as many as the probe read
    std::string etag;
    std::string lastModified;
};

// Gives the part file kept in `folder` for `fromUrl` and `name` to `to`, so
// that the next download of `to` under `name` continues it: only when the
// bytes are provably of the same file (the same whole length, and the same
// first bytes, as many as 16 KiB of them or the whole part) and `to` has a
// validator to ask for the rest with. True when it was given; otherwise the
// part stays as it is (and the next download of `to` starts over, sweeping it).
bool CarryKeptPart(const std::string& folder, const std::string& fromUrl, const std::string& name,
                   const OtherLink& to, std::time_t now);

// Removes the part file kept in `folder` for `url` and `name` (with its
// identity), when no program holds it: a song that starts over on another
// link leaves nothing of the old one. True when one went.
bool DropKeptPart(const std::string& folder, const std::string& url, const std::string& name, std::time_t now);

// Writes `identity` beside the part file in one step: into the side file
// ".next" (made anew), synced, then renamed over ".kept", then the folder
// synced. 0 or an errno.
int WritePartIdentity(const PartFile& file, const PartIdentity& identity);

// Keeps `file` for a later run: its bytes on the disk, then `identity`
// (form 1, with the bytes the file holds) written beside it; the file then
// stays when dropped. The program remembers that it kept this file
// (KeptPart::keptHere). 0, or an errno and nothing kept.
int KeepPartFile(PartFile& file, PartIdentity identity);

}  // namespace dl
