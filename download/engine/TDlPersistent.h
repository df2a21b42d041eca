#pragma once
// Settings objects that can be copied from another one (Assign); a source of
// another kind is refused with "Cannot assign a %s to a %s".
#include <string>

#include "download/values/EConvertError.h"

namespace dl {

class TDlPersistent {
public:
    virtual ~TDlPersistent() = default;
    virtual const char* ClassName() const = 0;
    virtual void Assign(const TDlPersistent& source) { source.AssignTo(*this); }

protected:
    TDlPersistent() = default;
    TDlPersistent(const TDlPersistent&) = default;
    TDlPersistent& operator=(const TDlPersistent&) = default;

    // The last resort of Assign: the source knows no way either.
    virtual void AssignTo(TDlPersistent& destination) const {
        throw EConvertError("Cannot assign a " + std::string(ClassName()) + " to a " + destination.ClassName());
    }
};

}  // namespace dl
