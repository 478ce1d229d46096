#pragma once

#include <QString>

#include <vector>

// A file-name wildcard: "*" matches any run of characters, "?" any one character,
// "<...>" one character of a set (ranges such as "a-z"; "^" or "!" right after "<" negates
// it), and every other character itself. A "<" without a closing ">" stands for itself.
// Matching compares characters exactly; callers lower-case both sides when case does not
// matter.
class Wildcard {
public:
    explicit Wildcard(const QString& pattern);

    // Runs in time proportional to pattern length times text length, whatever the pattern.
    bool Matches(const QString& text) const;

private:
    struct Range {
        char32_t first;
        char32_t last;
    };
    struct Token {
        enum class Kind { Literal, AnyOne, Set, AnyRun } kind = Kind::Literal;
        char32_t literal = 0;
        bool negated = false;
        std::vector<Range> ranges;

        bool MatchesOne(char32_t c) const;
    };

    std::vector<Token> tokens_;
};

// One-off match of `text` against `pattern`.
bool MatchesWildcard(const QString& pattern, const QString& text);
