#include "ui/Panes.h"

#include "common/AppDirs.h"
#include "common/Prompts.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

QLabel* TitleBar(const QString& text)
{
    auto* title = new QLabel(text);
    title->setFrameShape(QFrame::StyledPanel);
    title->setFixedHeight(kTitleHeight);
    title->setIndent(4);
    return title;
}

QWidget* Pane(const QString& title, QToolBar* bar, QWidget* body)
{
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TitleBar(title));
    if (bar != nullptr)
        layout->addWidget(bar);
    layout->addWidget(body, 1);
    return pane;
}

QPlainTextEdit* LogPane(const QString& objectName)
{
    auto* log = new QPlainTextEdit;
    log->setObjectName(objectName);
    log->setLineWrapMode(QPlainTextEdit::NoWrap);
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The program writes it; the person reads, selects and copies, and Tab moves on.
    log->setReadOnly(true);
    log->setTabChangesFocus(true);
    return log;
}

void ShowAbout(Prompts& prompts) { prompts.Information(kAppTitle + QStringLiteral(" 1.0")); }
