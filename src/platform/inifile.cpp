#include "inifile.h"

#include <QFile>
#include <QSaveFile>

#include <climits>

int leadingInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long v = 0;
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        v = v * 10 + (text[i].unicode() - '0');
        if (v > INT_MAX)
            v = static_cast<long long>(INT_MAX) + 1; // wraps like the 32-bit reader
    }
    return static_cast<int>(negative ? -v : v);
}

IniDocument IniDocument::parse(const QByteArray &bytes)
{
    IniDocument doc;
    const QString all = QString::fromUtf8(bytes);
    QString section;
    const QStringList lines = all.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString text = lines[i];
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        if (i == lines.size() - 1 && text.isEmpty())
            break; // the file's last line end
        Line line;
        line.text = text;
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
            section = (close > 0 ? trimmed.mid(1, close - 1) : trimmed.mid(1)).trimmed();
            line.isHeader = true;
            line.section = section;
        } else {
            line.section = section;
            const qsizetype eq = text.indexOf(QLatin1Char('='));
            if (eq > 0 && !trimmed.startsWith(QLatin1Char(';'))) {
                line.key = text.left(eq).trimmed();
                line.value = text.mid(eq + 1).trimmed();
            }
        }
        doc.m_lines.append(line);
    }
    return doc;
}

QByteArray IniDocument::serialize() const
{
    QString out;
    for (const Line &line : m_lines) {
        out += line.text;
        out += QLatin1String("\r\n");
    }
    return out.toUtf8();
}

int IniDocument::findKey(const QString &section, const QString &key) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (!l.isHeader && !l.key.isEmpty() &&
            l.section.compare(section, Qt::CaseInsensitive) == 0 &&
            l.key.compare(key, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

bool IniDocument::contains(const QString &section, const QString &key) const
{
    return findKey(section, key) >= 0;
}

QString IniDocument::value(const QString &section, const QString &key, const QString &def) const
{
    const int i = findKey(section, key);
    return i < 0 ? def : m_lines[i].value;
}

int IniDocument::intValue(const QString &section, const QString &key, int def) const
{
    const int i = findKey(section, key);
    return i < 0 ? def : leadingInt(m_lines[i].value);
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &rawValue)
{
    // A line break inside a value would split it into lines of its own.
    QString value = rawValue;
    value.remove(QLatin1Char('\r'));
    value.remove(QLatin1Char('\n'));
    Line line;
    line.section = section;
    line.key = key;
    line.value = value;
    line.text = key + QLatin1Char('=') + value;

    const int existing = findKey(section, key);
    if (existing >= 0) {
        line.key = m_lines[existing].key;
        line.section = m_lines[existing].section;
        line.text = line.key + QLatin1Char('=') + value;
        m_lines[existing] = line;
        return;
    }
    // Append to the end of the section's key lines (before trailing blanks).
    qsizetype header = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i].isHeader && m_lines[i].section.compare(section, Qt::CaseInsensitive) == 0) {
            header = i;
            break;
        }
    }
    if (header < 0) {
        Line h;
        h.isHeader = true;
        h.section = section;
        h.text = QLatin1Char('[') + section + QLatin1Char(']');
        m_lines.append(h);
        m_lines.append(line);
        return;
    }
    qsizetype insertAt = header + 1;
    for (qsizetype i = header + 1; i < m_lines.size() && !m_lines[i].isHeader; ++i) {
        if (!m_lines[i].text.trimmed().isEmpty())
            insertAt = i + 1;
    }
    line.section = m_lines[header].section;
    m_lines.insert(insertAt, line);
}

IniFile::IniFile(QString path) : m_path(std::move(path)) { }

bool IniFile::exists() const
{
    return QFile::exists(m_path);
}

IniDocument IniFile::snapshot() const
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return IniDocument::parse(f.readAll());
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    return snapshot().value(section, key, def);
}

int IniFile::readInt(const QString &section, const QString &key, int def) const
{
    return snapshot().intValue(section, key, def);
}

bool IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    IniDocument doc = snapshot();
    doc.setValue(section, key, value);
    return replaceWith(doc);
}

bool IniFile::replaceWith(const IniDocument &doc)
{
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(doc.serialize());
    return out.commit();
}
