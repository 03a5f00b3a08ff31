#pragma once

#include <QList>
#include <QString>

// A settings file in the classic initialisation-file format, read and written
// with the semantics the client relies on: section and key names compare
// without regard to case, a value is the text after the first "=" (blanks
// around it trimmed), a missing file, section or key reads as the caller's
// default, an integer reads as its leading digits. Every write reaches the
// disk at once and atomically: the whole file is written to a temporary file
// beside it and renamed over the old one, so a crash never leaves half a file.
// A write creates the file and the section, never the folder.
//
// The file is UTF-8 with CR LF line ends; LF-only files read the same.
class IniDocument
{
public:
    static IniDocument parse(const QByteArray &bytes);
    QByteArray serialize() const;

    bool contains(const QString &section, const QString &key) const;
    QString value(const QString &section, const QString &key, const QString &def = {}) const;
    int intValue(const QString &section, const QString &key, int def) const;
    void setValue(const QString &section, const QString &key, const QString &value);

private:
    struct Line
    {
        QString text; // the line as read, for lines we do not rewrite
        QString section; // the section the line belongs to
        QString key; // empty for section headers, comments and blank lines
        QString value;
        bool isHeader = false;
    };
    int findKey(const QString &section, const QString &key) const;
    QList<Line> m_lines;
};

// Windows' integer reading: optional blanks and sign, then the leading digits;
// no digits give 0.
int leadingInt(const QString &text);

class IniFile
{
public:
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }
    bool exists() const;

    // One parse of the whole file, for readers that take many keys at once.
    IniDocument snapshot() const;

    QString readString(const QString &section, const QString &key, const QString &def = {}) const;
    int readInt(const QString &section, const QString &key, int def) const;

    // Returns false when the file cannot be written (missing folder, no rights).
    bool writeString(const QString &section, const QString &key, const QString &value);
    // Writes the whole document in one atomic step.
    bool replaceWith(const IniDocument &doc);

private:
    QString m_path;
};
