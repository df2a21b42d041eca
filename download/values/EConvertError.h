#pragma once
// A value that cannot be converted: a date or time that does not exist, a
// number that is missing or out of range, settings of another kind.
#include <stdexcept>

namespace dl {

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace dl
