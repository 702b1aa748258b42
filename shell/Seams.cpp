#include "Seams.h"

namespace {
seams::EngineFactory engineFactory;
EngineWindow* loadedEngine = nullptr;
seams::WindowOpener configurationOpener;
} // namespace

namespace seams {

void setEngineFactory(EngineFactory factory) { engineFactory = std::move(factory); }

EngineWindow* loadEngine()
{
    if (!loadedEngine && engineFactory) {
        loadedEngine = engineFactory();
        if (loadedEngine)
            loadedEngine->load(); // may unload it again at once
    }
    return loadedEngine;
}

EngineWindow* engine() { return loadedEngine; }

void engineUnloaded(EngineWindow* e)
{
    if (e == loadedEngine)
        loadedEngine = nullptr;
}

void setConfigurationOpener(WindowOpener opener) { configurationOpener = std::move(opener); }
void openConfiguration(QWidget* owner)
{
    if (configurationOpener)
        configurationOpener(owner);
}
bool hasConfiguration() { return bool(configurationOpener); }

} // namespace seams
