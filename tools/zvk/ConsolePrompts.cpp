#include "ConsolePrompts.h"

#include "Commands.h"

QStringList ConsolePrompts::OpenFiles(const QString& /*filter*/) { return {}; }

QString ConsolePrompts::OpenFile(const QString& /*filter*/) { return {}; }

QString ConsolePrompts::SaveFile(const QString& /*filter*/, const QString& /*suggestedName*/) { return {}; }

void ConsolePrompts::Error(const QString& text) { PrintErr(text); }

void ConsolePrompts::Information(const QString& text) { PrintOut(text); }

void ConsolePrompts::Warning(const QString& text) { PrintErr(text); }

void ConsolePrompts::Message(const QString& caption, const QString& text) { PrintErr(caption + QStringLiteral(": ") + text); }

bool ConsolePrompts::Confirm(const QString& caption, const QString& text)
{
    PrintErr(caption + QStringLiteral(": ") + text + QStringLiteral(" No"));
    return false;
}

void ConsolePrompts::ShowInFolder(const QString& nativePath) { PrintOut(nativePath); }

Prompts::SaveChoice ConsolePrompts::AskSaveChanges(const QString& text)
{
    PrintErr(text + QStringLiteral(" Cancel"));
    return SaveChoice::Cancel;
}
