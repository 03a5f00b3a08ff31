#include "prompter.h"

#include "programfolder.h"

#include <QFile>

const QString kNoticeCaption = QStringLiteral("안내메세지");

QString Prompter::displayCaption(const QString &caption)
{
    return caption.isEmpty() ? applicationName() : caption;
}

int ScriptedPrompter::defaultAnswer(unsigned flags)
{
    switch (flags & Mb::ButtonMask) {
    case Mb::YesNo:
    case 0x3: // Yes/No/Cancel
        return IdYes;
    default:
        return IdOk;
    }
}

int ScriptedPrompter::show(const QString &text, const QString &caption, unsigned flags)
{
    const int answer = m_script.isEmpty() ? defaultAnswer(flags) : m_script.takeFirst();
    m_boxes.append(Box {text, displayCaption(caption), flags, answer});
    if (!m_transcript.isEmpty()) {
        QFile f(m_transcript);
        if (f.open(QIODevice::Append)) {
            QString escaped = text;
            escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
            escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
            const QString line = QStringLiteral("0x%1\t%2\t%3\t%4\n")
                                     .arg(flags, 4, 16, QLatin1Char('0'))
                                     .arg(displayCaption(caption), escaped)
                                     .arg(answer);
            f.write(line.toUtf8());
        }
    }
    return answer;
}

QStringList ScriptedPrompter::texts() const
{
    QStringList out;
    for (const Box &b : m_boxes)
        out.append(b.text);
    return out;
}
