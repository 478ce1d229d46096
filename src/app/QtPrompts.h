#pragma once

#include "common/AppDirs.h"
#include "common/Prompts.h"

#include <QPointer>
#include <QWidget>

// Prompts shown as Qt dialogs, modal to the given parent window.
class QtPrompts : public Prompts {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    // The caption of information, warning and question boxes; the program's name unless set.
    void SetTitle(const QString& title) { title_ = title; }

    QStringList OpenFiles(const QString& filter) override;
    QString OpenFile(const QString& filter) override;
    using Prompts::SaveFile;
    QString SaveFile(const QString& filter, const QString& suggestedName) override;
    void Error(const QString& text) override;
    void ErrorWithDetail(const QString& text, const QString& detail) override;
    void Information(const QString& text) override;
    void Warning(const QString& text) override;
    void Message(const QString& caption, const QString& text) override;
    bool MessageOffering(const QString& caption, const QString& text, const QString& offer) override;
    bool Confirm(const QString& caption, const QString& text) override;
    SaveChoice AskSaveChanges(const QString& text) override;
    void ShowInFolder(const QString& nativePath) override;

    // "Desc|*.a;*.b|Other|*.c" into Qt's "Desc (*.a *.b);;Other (*.c)".
    static QString QtFilter(const QString& storedFilter);

private:
    void RememberFolder(const QString& file);

    QPointer<QWidget> parent_;
    QString lastFolder_;
    QString title_ = kAppTitle;
};
