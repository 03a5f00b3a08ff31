#pragma once

#include <QList>
#include <QString>

// Message-box flag values and answers, as the program's texts define them.
namespace Mb {
constexpr unsigned Ok = 0x0;
constexpr unsigned OkCancel = 0x1;
constexpr unsigned YesNo = 0x4;
constexpr unsigned IconStop = 0x10;
constexpr unsigned IconQuestion = 0x20;
constexpr unsigned IconExclamation = 0x30;
constexpr unsigned IconInformation = 0x40;
constexpr unsigned SystemModal = 0x1000;

constexpr unsigned ButtonMask = 0xF;
constexpr unsigned IconMask = 0xF0;

// The combinations in use.
constexpr unsigned Failure = SystemModal | IconStop; // 0x1010
constexpr unsigned Notice = SystemModal | IconExclamation; // 0x1030
constexpr unsigned Information = SystemModal | IconInformation; // 0x1040
constexpr unsigned Question = SystemModal | IconInformation | YesNo; // 0x1044
constexpr unsigned PlainQuestion = SystemModal | YesNo; // 0x1004
constexpr unsigned RetryChoice = SystemModal | IconStop | OkCancel; // 0x1011
} // namespace Mb

enum MbAnswer : int { IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };

// The caption every notice carries unless it names its own.
extern const QString kNoticeCaption; // "안내메세지"

// Every message box of the program goes through this interface, so that
// tests can read the boxes and answer them.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // Shows a modal box and returns the answer (IdOk, IdCancel, IdYes, IdNo).
    // An empty caption shows the application name.
    virtual int show(const QString &text, const QString &caption, unsigned flags) = 0;

    // The caption a box actually carries.
    static QString displayCaption(const QString &caption);
};

// Records every box and answers from a script; for tests and for runs driven
// from outside. With an empty script a box gets its first button's answer
// (OK or Yes), the answer a user pressing Enter gives.
class ScriptedPrompter : public Prompter
{
public:
    struct Box
    {
        QString text;
        QString caption; // as displayed
        unsigned flags = 0;
        int answer = 0;
    };

    int show(const QString &text, const QString &caption, unsigned flags) override;

    void queueAnswer(int answer) { m_script.append(answer); }
    const QList<Box> &boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); }
    QStringList texts() const;

    // When set, each box is appended to this file as one line
    // "flags<TAB>caption<TAB>text<TAB>answer" (text with "\n" escaped).
    void setTranscriptPath(const QString &path) { m_transcript = path; }

    static int defaultAnswer(unsigned flags);

private:
    QList<int> m_script;
    QList<Box> m_boxes;
    QString m_transcript;
};
