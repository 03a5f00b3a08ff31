#include "qtprompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int QtPrompter::show(const QString &text, const QString &caption, unsigned flags)
{
    QMessageBox box;
    box.setWindowTitle(displayCaption(caption));
    box.setText(text);
    switch (flags & Mb::IconMask) {
    case Mb::IconStop:
        box.setIcon(QMessageBox::Critical);
        break;
    case Mb::IconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case Mb::IconExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Mb::IconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }

    struct Choice
    {
        QMessageBox::StandardButton button;
        int answer;
    };
    QList<Choice> choices;
    switch (flags & Mb::ButtonMask) {
    case Mb::OkCancel:
        choices = {{QMessageBox::Ok, IdOk}, {QMessageBox::Cancel, IdCancel}};
        break;
    case Mb::YesNo:
        choices = {{QMessageBox::Yes, IdYes}, {QMessageBox::No, IdNo}};
        break;
    case 0x3:
        choices = {
            {QMessageBox::Yes, IdYes}, {QMessageBox::No, IdNo}, {QMessageBox::Cancel, IdCancel}};
        break;
    default:
        choices = {{QMessageBox::Ok, IdOk}};
    }
    for (const Choice &c : choices)
        box.addButton(c.button);
    box.setDefaultButton(choices.first().button);
    if (choices.size() == 1 || (flags & Mb::ButtonMask) == Mb::OkCancel)
        box.setEscapeButton(choices.last().button);

    if (flags & Mb::SystemModal) {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    box.exec();

    const QAbstractButton *clicked = box.clickedButton();
    for (const Choice &c : choices) {
        if (clicked == box.button(c.button))
            return c.answer;
    }
    // Closed without a button: Windows answers Cancel where there is one,
    // else the only button.
    return (flags & Mb::ButtonMask) == Mb::YesNo ? IdNo : choices.last().answer;
}
