#pragma once
// The limits a download component applies to what it fetches: headers only,
// images of a page, a size limit and an age limit.
#include <cstdint>

#include "download/engine/TDlPersistent.h"

namespace dl {

class TDlDownloadParams : public TDlPersistent {
public:
    TDlDownloadParams() = default;
    TDlDownloadParams(const TDlDownloadParams& other) : TDlPersistent() { Assign(other); }
    TDlDownloadParams& operator=(const TDlDownloadParams& other) {
        Assign(other);
        return *this;
    }

    const char* ClassName() const override { return "TDlDownloadParams"; }
    // Copies all four parameters.
    void Assign(const TDlPersistent& source) override;

    // Fetch the headers only: never read the body, never write a file.
    bool CheckOnly = false;
    // Page mode: fetch the page's images too.
    bool LoadImages = false;
    // 0: no limit. Otherwise a transfer whose announced length or received
    // byte count exceeds it is stopped and fails.
    std::uint32_t SizeLimit = 0;
    // Days; 0: no check. Otherwise a resource last modified longer ago fails.
    double Older = 0;
};

}  // namespace dl
