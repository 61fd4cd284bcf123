// The application object of a control module: the one object that stands for
// the loaded module. The module's DllMain calls InitInstance when it loads
// (a false result fails the load) and ExitInstance when it unloads.
#pragma once

class CControlModule {
public:
    CControlModule() = default;
    virtual ~CControlModule() = default;
    CControlModule(const CControlModule&) = delete;
    CControlModule& operator=(const CControlModule&) = delete;

    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }
};
