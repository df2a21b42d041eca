#include "download/component/TDlDownloadParams.h"

namespace dl {

void TDlDownloadParams::Assign(const TDlPersistent& source) {
    const auto* other = dynamic_cast<const TDlDownloadParams*>(&source);
    if (!other) {
        TDlPersistent::Assign(source);
        return;
    }
    CheckOnly = other->CheckOnly;
    LoadImages = other->LoadImages;
    SizeLimit = other->SizeLimit;
    Older = other->Older;
}

}  // namespace dl
