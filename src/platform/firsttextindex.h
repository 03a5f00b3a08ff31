#pragma once

#include <QHash>
#include <QString>

// Where a text first shows in a list's first column: the row of its first
// occurrence. Kept up to date while rows are only appended; any other change
// drops it and the next look-up builds it again in one pass.
class FirstTextIndex
{
public:
    // Empty list: the index is valid and empty.
    void clear()
    {
        m_first.clear();
        m_valid = true;
    }
    // Rows were moved, removed or inserted in the middle.
    void drop()
    {
        m_first.clear();
        m_valid = false;
    }
    // About `count` more rows are to be appended.
    void expectMore(qsizetype count)
    {
        if (m_valid)
            m_first.reserve(m_first.size() + count);
    }
    // The row just appended at `row` shows `text` first.
    void appended(const QString &text, int row)
    {
        if (m_valid)
            keepFirst(text, row);
    }
    // The first row showing `text`, -1 when none; `textAt(i)` gives row i's
    // first text for the `rows` rows when the index must be built again.
    template<class TextAt>
    int find(const QString &text, qsizetype rows, TextAt textAt) const
    {
        if (!m_valid) {
            m_first.clear();
            m_first.reserve(rows);
            for (qsizetype i = 0; i < rows; ++i)
                keepFirst(textAt(i), int(i));
            m_valid = true;
        }
        return m_first.value(text, -1);
    }

private:
    // One look-up: a text already present keeps its earlier row.
    void keepFirst(const QString &text, int row) const
    {
        const qsizetype before = m_first.size();
        int &slot = m_first[text];
        if (m_first.size() != before)
            slot = row;
    }

    mutable QHash<QString, int> m_first;
    mutable bool m_valid = true;
};
