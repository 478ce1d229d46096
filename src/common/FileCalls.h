#pragma once

#include <QString>

#include <functional>

// The file-system calls whose failures the program handles and its tests must be able to
// cause whoever runs them (as root every file can be deleted): one seam, which a test
// replaces for as long as a TFileCallsOverride lives.
struct TFileCalls {
    // Removes a file or a link; false, with the reason in `error`, when it cannot.
    std::function<bool(const QString& path, QString& error)> Remove;
};

const TFileCalls& FileCalls();

class TFileCallsOverride {
public:
    explicit TFileCallsOverride(TFileCalls calls);
    ~TFileCallsOverride();
    TFileCallsOverride(const TFileCallsOverride&) = delete;
    TFileCallsOverride& operator=(const TFileCallsOverride&) = delete;

private:
    TFileCalls previous_;
};
