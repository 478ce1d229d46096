#pragma once

#include "common/Error.h"

// Every failure to read or write an XML file: malformed, beyond the limits, or unwritable.
class TXmlError : public TError {
public:
    using TError::TError;
};
