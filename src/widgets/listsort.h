#pragma once

#include <QString>

#include <cstdint>

// The comparisons behind the list's column sorting. Each returns a negative
// number, 0 or a positive number for "a sorts first", "equal", "b sorts first".
namespace ListSort {

enum class Kind { Text, NumberOrText, Address };

// UTF-16 code unit by code unit, case-sensitive; a shorter prefix sorts first.
int compareText(const QString &a, const QString &b);

// Whole numbers compare as numbers when both are non-zero, differ and are
// written exactly as their decimal form; everything else compares as text.
int compareNumberOrText(const QString &a, const QString &b);

// Numeric IPv4 order; a text that is no address counts as 255.255.255.255.
int compareAddress(const QString &a, const QString &b);

int compare(Kind kind, const QString &a, const QString &b);

// The leading-digit conversion of a cell text (optional blanks, sign,
// digits; the value saturates at the 32-bit limits) and whether the text is
// exactly the decimal form of that value.
struct WholeNumber
{
    int32_t value = 0;
    bool exact = false;
};
WholeNumber parseWholeNumber(const QString &text);

} // namespace ListSort
