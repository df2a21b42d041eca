#pragma once
// What the downloads list believes of a row read from the store file: only
// what the program itself could have written there. Another program, or a
// store file passed around as a song list, can put anything in a row, and a
// row says where a song is written and which file is opened; so a row is
// used only when its folder is the list's download folder, its file name the
// one the list gives a song of its title, its path that folder and that
// name, and its address http or https. A finished file is opened only when
// it is still the very file the list wrote.
#include <string>

#include "store/DownloadListStore.h"

namespace app {

// An address the list downloads: http or https, with a host.
bool isWebAddress(const std::string& url);

// The destination name the list gives the n-th song of one title at once
// (n from 1): "<title>.mp3", then "<title> (2).mp3", ...
std::string listFileName(const std::string& title, int n);

// Whether `entry` is a row the list could have written, downloading into
// `folder` (absolute, ending in "/").
bool isTrustedRow(const store::ListEntry& entry, const std::string& folder);

// Whether the path ends in a song's or a saved page's extension.
bool hasOpenableExtension(const std::string& path);

// The regular file at `path` (not followed through a link) as
// "device:inode:size"; empty for anything else or nothing.
std::string fileIdentity(const std::string& path);

}  // namespace app
