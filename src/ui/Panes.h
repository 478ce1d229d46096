#pragma once

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>
#include <QString>
#include <QToolBar>

#include <initializer_list>
#include <utility>

class Prompts;
class QLabel;
class QPlainTextEdit;

// The pieces every window is built from, so that the windows look and behave alike.

// Title bars and tool-bar buttons are this many pixels high.
inline constexpr int kTitleHeight = 21;

// A pane's title: a framed label of one line.
QLabel* TitleBar(const QString& text);

// A pane of a title bar, a tool bar (or none) and the widget that fills the rest.
QWidget* Pane(const QString& title, QToolBar* bar, QWidget* body);

// A log of lines that never wrap, read-only, Tab moving on from it.
QPlainTextEdit* LogPane(const QString& objectName);

// The About box every window's About command shows.
void ShowAbout(Prompts& prompts);

// A tool bar of caption-only buttons at least `width` by kTitleHeight pixels, separators
// between, each in the window's Tab order.
template <typename Receiver>
QToolBar* ToolBar(const QString& objectName, int width, Receiver* receiver,
                  std::initializer_list<std::pair<QString, void (Receiver::*)()>> buttons)
{
    auto* bar = new QToolBar;
    bar->setObjectName(objectName);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setIconSize(QSize(1, 1));
    bar->setContentsMargins(0, 0, 0, 0);
    for (const auto& [caption, handler] : buttons) {
        if (!bar->actions().isEmpty())
            bar->addSeparator();
        QAction* action = bar->addAction(caption, receiver, handler);
        QWidget* button = bar->widgetForAction(action);
        button->setMinimumSize(width, kTitleHeight);
        // Reached with Tab too, as every other button of the window.
        button->setFocusPolicy(Qt::TabFocus);
    }
    return bar;
}

// A pop-up menu of `receiver`'s, opened where `view` is right-clicked; an item without a
// handler does nothing.
template <typename Receiver>
QMenu* ContextMenu(QAbstractItemView* view, const QString& objectName, Receiver* receiver,
                   std::initializer_list<std::pair<QString, void (Receiver::*)()>> items)
{
    auto* menu = new QMenu(receiver);
    menu->setObjectName(objectName);
    for (const auto& [caption, handler] : items) {
        if (handler != nullptr)
            menu->addAction(caption, receiver, handler);
        else
            menu->addAction(caption);
    }
    QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                     [view, menu](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
    return menu;
}
