// The module's application object. The client settings store is its part:
// the launch sequence of every control reaches the store through it.
#pragma once

#include "framework/ControlModule.h"
#include "launcher/SettingsStore.h"

class CVantorimaApp : public CControlModule, public CSettingsStore {
};

// The running application object, taken once while the module loads.
extern CVantorimaApp* const g_vantorimaApp;
