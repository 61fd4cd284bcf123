#include "framework/ControlModule.h"

namespace {
CControlModule* g_current = nullptr;
}  // namespace

CControlModule::CControlModule()
{
    g_current = this;
}

CControlModule::~CControlModule()
{
    if (g_current == this)
        g_current = nullptr;
}

CControlModule* CControlModule::Current()
{
    return g_current;
}
