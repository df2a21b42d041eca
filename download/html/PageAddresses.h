#pragma once
// Page mode's account of what a run has fetched: each address once, over
// http and https only. Addresses are compared in a form that does not tell
// apart what names the same resource: scheme and host in any case, the
// scheme's own port written or not, an escape of a letter or digit written
// or not (or in either case), an empty path or "/", and the fragment.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace dl {

// The address's form for comparing; nothing unless it is an absolute http or
// https address with a host.
std::optional<std::string> FetchKey(std::string_view absoluteUrl);

class FetchedAddresses {
public:
    // True the first time an address (by its key) is claimed; false for one
    // already claimed and for one that is not to be fetched at all (another
    // scheme than http and https, or no address).
    bool Claim(std::string_view absoluteUrl);
    // Marks the address as fetched; nothing for one that has no key.
    void Add(std::string_view absoluteUrl);
    bool Contains(std::string_view absoluteUrl) const;
    void Clear() { keys_.clear(); }
    std::size_t size() const { return keys_.size(); }

private:
    std::unordered_set<std::string> keys_;
};

}  // namespace dl
