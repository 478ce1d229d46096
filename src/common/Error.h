#pragma once

#include <QString>

#include <stdexcept>

// An error that ends the user's current operation. It carries the exact text the user is
// shown, so the top of the operation can put it in a message box unchanged.
class TError : public std::runtime_error {
public:
    explicit TError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}

    const QString& Text() const noexcept { return text_; }

private:
    QString text_;
};
