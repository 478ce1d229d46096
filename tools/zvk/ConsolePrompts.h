#pragma once

#include "common/Prompts.h"

// The person at a terminal cannot answer dialogs: boxes become lines on the console,
// questions are answered "No" (or "Cancel") and file dialogs come back cancelled.
class ConsolePrompts : public Prompts {
public:
    QStringList OpenFiles(const QString& filter) override;
    QString OpenFile(const QString& filter) override;
    using Prompts::SaveFile;
    QString SaveFile(const QString& filter, const QString& suggestedName) override;
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    void Warning(const QString& text) override;
    void Message(const QString& caption, const QString& text) override;
    bool Confirm(const QString& caption, const QString& text) override;
    SaveChoice AskSaveChanges(const QString& text) override;
    void ShowInFolder(const QString& nativePath) override;
};
