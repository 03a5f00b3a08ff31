#pragma once

#include <QStringList>

// The program's life: one copy per login session, the main window created
// and run until its exit procedure has finished.
class CTarvoClientApp
{
public:
    // Runs the whole program; returns the process exit code.
    int InitInstance(int argc, char **argv);
};
