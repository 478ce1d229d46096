#pragma once

#include "common/Error.h"

// An archive operation that has to stop. The text is the extractor's or writer's own.
class TZipError : public TError {
public:
    using TError::TError;
};
