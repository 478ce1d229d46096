#include "archive/Wildcard.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

Wildcard::Wildcard(const QString& pattern)
{
    const std::u32string chars = pattern.toStdU32String();
    const std::size_t n = chars.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = chars[i];
        Token token;
        if (c == U'*') {
            // A run of stars is one star; keeping them apart would only slow matching.
            if (!tokens_.empty() && tokens_.back().kind == Token::Kind::AnyRun)
                continue;
            token.kind = Token::Kind::AnyRun;
        } else if (c == U'?') {
            token.kind = Token::Kind::AnyOne;
        } else if (c == U'<' && chars.find(U'>', i + 1) != std::u32string::npos) {
            const std::size_t close = chars.find(U'>', i + 1);
            token.kind = Token::Kind::Set;
            std::size_t j = i + 1;
            if (j < close && (chars[j] == U'^' || chars[j] == U'!')) {
                token.negated = true;
                ++j;
            }
            while (j < close) {
                char32_t first = chars[j];
                char32_t last = first;
                if (j + 2 < close && chars[j + 1] == U'-') {
                    last = chars[j + 2];
                    if (last < first)
                        std::swap(first, last);
                    j += 3;
                } else {
                    ++j;
                }
                token.ranges.push_back({first, last});
            }
            i = close;
        } else {
            token.literal = c;
        }
        tokens_.push_back(std::move(token));
    }
}

bool Wildcard::Token::MatchesOne(char32_t c) const
{
    switch (kind) {
    case Kind::Literal:
        return c == literal;
    case Kind::AnyOne:
        return true;
    case Kind::Set: {
        const bool inSet = std::any_of(ranges.begin(), ranges.end(),
                                       [c](const Range& r) { return r.first <= c && c <= r.last; });
        return inSet != negated;
    }
    case Kind::AnyRun:
        break;
    }
    return false;
}

bool Wildcard::Matches(const QString& text) const
{
    // Every token but the star consumes exactly one character, so on a mismatch only the
    // most recent star needs to take one more character: earlier stars can never do better.
    // That keeps the work at (pattern x text) steps with no recursion.
    const std::u32string chars = text.toStdU32String();
    const std::size_t n = chars.size();
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starToken = kNone;
    std::size_t starText = 0;
    while (t < n) {
        if (p < tokens_.size() && tokens_[p].kind == Token::Kind::AnyRun) {
            starToken = p++;
            starText = t;
        } else if (p < tokens_.size() && tokens_[p].MatchesOne(chars[t])) {
            ++p;
            ++t;
        } else if (starToken != kNone) {
            p = starToken + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < tokens_.size() && tokens_[p].kind == Token::Kind::AnyRun)
        ++p;
    return p == tokens_.size();
}

bool MatchesWildcard(const QString& pattern, const QString& text) { return Wildcard(pattern).Matches(text); }
