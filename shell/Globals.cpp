#include "shell/Globals.h"

#include "shell/Product.h"

Globals& globals()
{
    static Globals g;
    return g;
}

void resetGlobals()
{
    globals() = Globals{};
    initGlobalDefaults();
}

void initGlobalDefaults()
{
    Globals& g = globals();
    g.AppName = QStringLiteral("Vantora");
    g.ServerHost = product::serverHost();
    g.DebugMode = false;
    g.AccountDomains = product::accountDomains();
    g.AccountDomainsLast = int(g.AccountDomains.size()) - 1;
}

bool FrameSizeForCode(int code, int& width, int& height)
{
    static constexpr int sizes[6][2] = {{128, 96},  {160, 120}, {176, 144},
                                        {240, 180}, {320, 240}, {352, 288}};
    if (code < 1 || code > 6)
        return false;
    width = sizes[code - 1][0];
    height = sizes[code - 1][1];
    return true;
}
