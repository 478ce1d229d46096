#include "common/FileCalls.h"

#include <QFile>

#include <utility>

namespace {

TFileCalls& Current()
{
    static TFileCalls calls{[](const QString& path, QString& error) {
        QFile file(path);
        if (file.remove())
            return true;
        error = file.errorString();
        return false;
    }};
    return calls;
}

}  // namespace

const TFileCalls& FileCalls() { return Current(); }

TFileCallsOverride::TFileCallsOverride(TFileCalls calls) : previous_(std::exchange(Current(), std::move(calls))) {}

TFileCallsOverride::~TFileCallsOverride() { Current() = std::move(previous_); }
