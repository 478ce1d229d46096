#pragma once

#include <QString>

// `text` as it may be shown to a person: every character that could hide or reorder what
// they read (control characters other than the line break, line and paragraph separators,
// and the marks that change the writing direction) written as "\u{XXXX}". A file name
// holding a right-to-left override cannot then pass "gpj.zvk" off as "kvz.jpg".
QString VisibleText(const QString& text);
