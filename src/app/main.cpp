#include "ctarvoclientapp.h"

int main(int argc, char **argv)
{
    CTarvoClientApp app;
    return app.InitInstance(argc, argv);
}
