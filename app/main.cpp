#include <QApplication>

#include "Globals.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    initGlobalDefaults();
    return 0;
}
