#pragma once

#include <QString>
#include <QStringList>

// The one way the program talks to the person at the desktop. The core never opens a
// dialog itself: windows hand it the Qt implementation, tests a scripted one that answers
// dialogs and records every text.
class Prompts {
public:
    enum class SaveChoice { Save, Discard, Cancel };

    virtual ~Prompts() = default;

    // Multi-selection open dialog. Filter in the stored "Description|pattern|..." form.
    // Returns native paths in the dialog's order; empty when cancelled.
    virtual QStringList OpenFiles(const QString& filter) = 0;

    // Single-selection open dialog; empty when cancelled.
    virtual QString OpenFile(const QString& filter) = 0;

    // Save dialog, offering `suggestedName` (a file name, or a path) when given; the name as
    // chosen, no extension added; empty when cancelled.
    virtual QString SaveFile(const QString& filter, const QString& suggestedName) = 0;
    QString SaveFile(const QString& filter) { return SaveFile(filter, QString()); }

    // Modal error box: caption "Error", error icon, one "OK" button.
    virtual void Error(const QString& text) = 0;
    // The same with a detail under the text, such as the file it is about.
    virtual void ErrorWithDetail(const QString& text, const QString& detail) { Error(text + u'\n' + detail); }

    // Modal information box whose caption is the application title.
    virtual void Information(const QString& text) = 0;

    // Modal warning box whose caption is the application title.
    virtual void Warning(const QString& text) = 0;

    // Modal box with the given caption, no icon and one "OK" button.
    virtual void Message(const QString& caption, const QString& text) = 0;
    // The same with a second button named `offer`; true when that was pressed.
    virtual bool MessageOffering(const QString& caption, const QString& text, const QString& offer)
    {
        Q_UNUSED(offer);
        Message(caption, text);
        return false;
    }

    // Modal question with "Yes" and "No" buttons; true for "Yes".
    virtual bool Confirm(const QString& caption, const QString& text) = 0;

    // Asks whether changes not yet saved should be saved before they would be lost.
    virtual SaveChoice AskSaveChanges(const QString& text) = 0;

    // Shows the file (native path) selected in the desktop's file manager.
    virtual void ShowInFolder(const QString& nativePath) = 0;
};
