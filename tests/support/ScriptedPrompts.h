#pragma once

#include "common/Prompts.h"

#include <QList>
#include <QStringList>

#include <functional>

// Answers dialogs from a script and records every message, so tests can assert exact texts.
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        QString kind;  // "Error", "Information", or the caption of a plain box or question
        QString text;
        bool operator==(const Shown&) const = default;
    };

    QList<QStringList> openFilesAnswers;  // taken front first; empty list = cancelled
    QStringList openFilesFilters;         // the filter of every file dialog shown
    QList<Shown> messages;
    std::function<void(const Shown&)> onShow;  // called as each box or question comes up
    QStringList shownInFolder;
    QList<bool> confirmAnswers;  // taken front first; "No" when the script has run out
    QStringList openFileAnswers;  // single-file open dialogs, front first; empty = cancelled
    QStringList saveFileAnswers;  // save dialogs, front first; empty = cancelled
    QList<SaveChoice> saveChoices;  // taken front first; "Cancel" when the script has run out

    QStringList OpenFiles(const QString& filter) override
    {
        openFilesFilters.append(filter);
        return openFilesAnswers.isEmpty() ? QStringList() : openFilesAnswers.takeFirst();
    }
    QString OpenFile(const QString& filter) override
    {
        openFilesFilters.append(filter);
        return openFileAnswers.isEmpty() ? QString() : openFileAnswers.takeFirst();
    }
    QStringList suggestedNames;  // what every save dialog offered
    QList<bool> offerAnswers;    // whether a box's second button is pressed, front first
    using Prompts::SaveFile;
    QString SaveFile(const QString& filter, const QString& suggestedName) override
    {
        openFilesFilters.append(filter);
        suggestedNames.append(suggestedName);
        return saveFileAnswers.isEmpty() ? QString() : saveFileAnswers.takeFirst();
    }
    void Error(const QString& text) override { Show({QStringLiteral("Error"), text}); }
    void Information(const QString& text) override { Show({QStringLiteral("Information"), text}); }
    void Warning(const QString& text) override { Show({QStringLiteral("Warning"), text}); }
    void Message(const QString& caption, const QString& text) override { Show({caption, text}); }
    bool MessageOffering(const QString& caption, const QString& text, const QString& offer) override
    {
        Show({caption, text + QStringLiteral(" [") + offer + u']'});
        return !offerAnswers.isEmpty() && offerAnswers.takeFirst();
    }
    bool Confirm(const QString& caption, const QString& text) override
    {
        Show({caption, text});
        return !confirmAnswers.isEmpty() && confirmAnswers.takeFirst();
    }
    SaveChoice AskSaveChanges(const QString& text) override
    {
        Show({QStringLiteral("Question"), text});
        return saveChoices.isEmpty() ? SaveChoice::Cancel : saveChoices.takeFirst();
    }
    void ShowInFolder(const QString& nativePath) override { shownInFolder.append(nativePath); }

private:
    void Show(const Shown& shown)
    {
        messages.append(shown);
        if (onShow)
            onShow(shown);
    }
};
