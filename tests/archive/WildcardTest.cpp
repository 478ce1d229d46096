#include "archive/Wildcard.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

struct Case {
    const char* pattern;
    const char* text;
    bool matches;
};

void ExpectCases(std::initializer_list<Case> cases)
{
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesWildcard(QString::fromUtf8(c.pattern), QString::fromUtf8(c.text)), c.matches)
            << "pattern \"" << c.pattern << "\" against \"" << c.text << '"';
    }
}

TEST(WildcardTest, StarAloneMatchesEverything)
{
    ExpectCases({{"*", "", true}, {"*", "zvk.xml", true}, {"*", "pets\\cat", true}, {"**", "x", true}});
}

TEST(WildcardTest, StarDotStarNeedsADotAnywhere)
{
    ExpectCases({
        {"*.*", "zvk.png", true},
        {"*.*", "readme", false},
        {"*.*", ".hidden", true},
        {"*.*", "trailing.", true},
        {"*.*", "docs.d\\readme", true},
        {"*.*", "docs\\readme", false},
        {"*.*", "", false},
    });
}

TEST(WildcardTest, StarsBacktrackToFindALaterMatch)
{
    ExpectCases({
        {"*a*b", "xaxxb", true},
        {"*a*b", "xaxxbx", false},
        {"a*b*c", "abcbc", true},
        {"a*b*c", "abcb", false},
        {"*.txt", "a.txt.txt", true},
        {"*.txt", "a.txt.bak", false},
        {"abc*", "abc", true},
        {"abc**", "abcdef", true},
        {"*x", "", false},
        {"a*", "ba", false},
    });
}

TEST(WildcardTest, QuestionMarkIsExactlyOneCharacter)
{
    ExpectCases({
        {"?.txt", "a.txt", true},
        {"?.txt", ".txt", false},
        {"?.txt", "ab.txt", false},
        {"a?c", "a\\c", true},
        {"???", "ab", false},
        {"*?", "", false},
        {"*?", "x", true},
    });
}

TEST(WildcardTest, SetsRangesAndNegation)
{
    ExpectCases({
        {"<abc>x", "bx", true},
        {"<abc>x", "dx", false},
        {"<a-c>.png", "b.png", true},
        {"<a-c>.png", "d.png", false},
        {"<c-a>", "b", true},  // a reversed range still means its span
        {"<0-9a-f>", "e", true},
        {"<0-9a-f>", "g", false},
        {"<^a-c>x", "dx", true},
        {"<^a-c>x", "ax", false},
        {"<!a-c>x", "dx", true},
        {"<!a-c>x", "cx", false},
        {"<a^>", "^", true},   // "^" later in the set is a member
        {"<a->", "-", true},   // a "-" without an end is a member
        {"<a->", "b", false},
        {"<>", "a", false},    // the empty set matches nothing
        {"<>", "", false},
        {"<^>", "a", true},    // its negation anything
        {"<ab>", "", false},
        {"*<xy>", "abcy", true},
        {"<*?>", "*", true},   // inside a set, "*" and "?" are plain characters
        {"<*?>", "a", false},
    });
}

TEST(WildcardTest, UnclosedSetAndOtherCharactersStandForThemselves)
{
    ExpectCases({
        {"<abc", "<abc", true},
        {"<abc", "a", false},
        {"a>b", "a>b", true},
        {"a-b", "a-b", true},
        {"a.b", "axb", false},
        {"[ab]", "[ab]", true},
        {"[ab]", "a", false},
    });
}

TEST(WildcardTest, ComparesCharactersExactly)
{
    // Case folding is the caller's business: the extractor lower-cases both sides.
    ExpectCases({{"*.PNG", "a.png", false}, {"*.png", "a.png", true}, {"caf\xc3\xa9*", "caf\xc3\xa9.txt", true}});
}

TEST(WildcardTest, QuestionMarkTakesACharacterOutsideTheBasicPlane)
{
    // U+1F431 is two UTF-16 units but one character.
    ExpectCases({{"?.png", "\xf0\x9f\x90\xb1.png", true}, {"??.png", "\xf0\x9f\x90\xb1.png", false}});
}

TEST(WildcardTest, ManyStarsAgainstALongNameFinishQuickly)
{
    // A backtracking matcher that retries every star takes exponential time here.
    QString pattern;
    for (int i = 0; i < 30; ++i)
        pattern += QStringLiteral("*a");
    pattern += QStringLiteral("*b");
    const QString text(20000, u'a');
    EXPECT_FALSE(MatchesWildcard(pattern, text));
    EXPECT_TRUE(MatchesWildcard(pattern, text + u'b'));
}

TEST(WildcardTest, CompiledWildcardIsReusable)
{
    const Wildcard wildcard(QStringLiteral("zvk.<px>*"));
    EXPECT_TRUE(wildcard.Matches(QStringLiteral("zvk.png")));
    EXPECT_TRUE(wildcard.Matches(QStringLiteral("zvk.xml")));
    EXPECT_FALSE(wildcard.Matches(QStringLiteral("zvk.ogg")));
}

}  // namespace
