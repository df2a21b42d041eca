#pragma once
// Part files kept for a later run. A download that fails or is stopped after
// some bytes of a song keeps its part file, and beside it what identifies
// the song those bytes are the start of (the address asked, the name the
// file is for, the validators and length the server gave, the bytes held),
// so that the next download of the same address to the same name can ask
// the server for the rest instead of starting over. The identity is a small
// text file read back from disk, so it is read strictly: a file that is not
// exactly one is no identity, and its part file is taken for one left behind.
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
    std::uint64_t held = 0;    // the bytes in the part file, at least 1

    bool operator==(const PartIdentity&) const = default;
};

// An identity file is never longer than this; a longer one is none.
constexpr std::size_t kMaxIdentityBytes = 16 * 1024;
// A kept part file not written for this long goes.
constexpr std::time_t kKeptPartLifetime = 7 * 24 * 3600;

// The identity as its file holds it: a first line, one line per field with
// every byte outside "!" to "~" and every "%" written as %XX, and a last line.
std::string EncodePartIdentity(const PartIdentity& identity);
// The identity a file holds, or nothing when it is not exactly one: fields
// missing, repeated, out of order or unknown, bad escapes, numbers that are
// not plain decimals or do not fit, no address or name, a name that is not
// one file name, validators or address with control bytes, no bytes held,
// or all of the song held or more.
std::optional<PartIdentity> ParsePartIdentity(std::string_view text);

// The identity kept beside the part file at `partPath`, when there is one.
std::optional<PartIdentity> ReadPartIdentity(const std::string& partPath);

// The download now running in a folder, as the sweep of that folder sees it.
struct AskedDownload {
    std::string url;
    std::string name;
    bool continuing = true;  // it continues a part file kept for it
};

// Removes from `folder` the part files no running program holds that are
// not worth keeping: those without an identity (left by a program that was
// killed), those not written for kKeptPartLifetime, and those the download
// now running there (`asked`, when there is one) has made useless: kept for
// its name under another address, or for its address under another name;
// kept for both when it does not continue; and of several kept for both,
// all but the one holding most. Identity files without their part file go
// too. Returns how many part files went.
int SweepPartFiles(const std::string& folder, const AskedDownload* asked, std::time_t now);

struct KeptPart {
    std::unique_ptr<PartFile> file;
    PartIdentity identity;
};

// The part file kept in `folder` for `url` and `name`, now this program's:
// locked, its identity file removed (from here on it is a part file being
// written, which a killed program leaves behind), cut to the bytes the
// identity counts. Nothing when there is none, or another program holds it.
std::optional<KeptPart> TakeUpKeptPart(const std::string& folder, const std::string& url, const std::string& name,
                                       std::time_t now);

// Keeps `file` for a later run: its bytes on the disk, then `identity`
// (with the bytes the file holds) written beside it; the file then stays
// when dropped. 0, or an errno and nothing kept.
int KeepPartFile(PartFile& file, PartIdentity identity);

}  // namespace dl
