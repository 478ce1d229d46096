#pragma once

#include "packer/FrmPacker.h"
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"
#include "ui/FileListView.h"

#include <QLineEdit>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include <memory>

// The packer window, shown, with its scripted prompts.
class FrmPackerTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        window_ = std::make_unique<TFrmPacker>(prompts_);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    TPackerEditor& Editor() { return window_->Editor(); }

    QStringList Captions(const QList<QAction*>& actions) const
    {
        QStringList captions;
        for (QAction* action : actions) {
            if (!action->isSeparator())
                captions.append(action->text());
        }
        return captions;
    }

    void Click(const QString& bar, const QString& caption)
    {
        auto* toolBar = window_->findChild<QToolBar*>(bar);
        ASSERT_NE(toolBar, nullptr);
        for (QAction* action : toolBar->actions()) {
            if (action->text() == caption) {
                QTest::mouseClick(toolBar->widgetForAction(action), Qt::LeftButton);
                return;
            }
        }
        FAIL() << "no button " << caption.toStdString();
    }

    // Clicks "Rename" and returns the editor it opens.
    QLineEdit* Rename()
    {
        Click(QStringLiteral("tbAction"), QStringLiteral("Rename"));
        for (QLineEdit* edit : Tree()->findChildren<QLineEdit*>()) {
            if (edit->isVisible())
                return edit;
        }
        return nullptr;
    }

    TFileListView* Frames() const { return window_->findChild<TFileListView*>(QStringLiteral("frameList")); }
    QTreeView* Tree() const { return window_->findChild<QTreeView*>(QStringLiteral("actionTree")); }

    ScriptedPrompts prompts_;
    std::unique_ptr<TFrmPacker> window_;
};
