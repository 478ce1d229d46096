#pragma once

#include "common/Prompts.h"

// The person at a terminal cannot answer dialogs: boxes become lines on the console,
// questions are answered "No" and file dialogs come back cancelled.
class ConsolePrompts : public Prompts {
public:
    QStringList OpenFiles(const QString& filter) override;
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    void Message(const QString& caption, const QString& text) override;
    bool Confirm(const QString& caption, const QString& text) override;
    void ShowInFolder(const QString& nativePath) override;
};
