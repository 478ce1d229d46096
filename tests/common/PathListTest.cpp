#include "common/PathList.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>

TEST(PathListTest, SplitTrimsSkipsEmptyPiecesAndKeepsBlankOnes)
{
    const struct {
        QString text;
        QStringList pieces;
    } cases[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"a;b;", {"a", "b"}},
        {"a;b", {"a", "b"}},
        {";;a;;", {"a"}},
        {"  /p q/a.png ; b.png ;", {"/p q/a.png", "b.png"}},
        // A piece of blanks is not empty until trimmed, so it gives an empty entry.
        {"a; ;b;", {"a", "", "b"}},
        // Every code up to 32 is trimmed; a no-break space (160) is not.
        {QStringLiteral("\x01" "a\x1f;"), {"a"}},
        {QStringLiteral("\u00a0a;"), {QStringLiteral("\u00a0a")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Split(c.text, u';'), c.pieces) << c.text.toStdString();
}

TEST(PathListTest, JoinPathsEndsEveryPathWithTheSeparator)
{
    EXPECT_EQ(JoinPaths({}), QString());
    const QStringList paths{"/a b/x.png", "y.bmp"};
    EXPECT_EQ(JoinPaths(paths), QStringLiteral("/a b/x.png;y.bmp;"));
    EXPECT_EQ(Split(JoinPaths(paths), u';'), paths);
}
