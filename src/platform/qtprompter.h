#pragma once

#include "prompter.h"

class QWidget;

// Message boxes on screen (QMessageBox). System-modal boxes stay on top of
// every other window, as the program's notices expect.
class QtPrompter : public Prompter
{
public:
    int show(const QString &text, const QString &caption, unsigned flags) override;
};
