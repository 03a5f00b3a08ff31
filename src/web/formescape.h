#pragma once

#include <QString>

// The longest escaped value a form carries; a longer one is sent empty.
constexpr qsizetype kMaxEscapedValue = 2046;

// A text as a form value: UTF-8 bytes, every byte outside the safe set as
// "%" and two small hex digits. A value whose escaped form is longer than
// kMaxEscapedValue bytes becomes the empty text (dropped, never cut).
QString EscapeFormValue(const QString &text);

// The inverse, for reading bodies built with EscapeFormValue (and browser
// forms, where "+" is a blank). Malformed escapes are kept as they are.
QString unescapeFormValue(const QString &value);
