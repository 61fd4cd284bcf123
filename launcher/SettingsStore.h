// The client's settings key: where the control and the desktop client meet.
//
// HKCU\Software\Quorsel\Marovent\OrvMain. The client's installer writes
// WorkDir (the install directory); the control writes LoginSERV,
// HttpPathKorea and SaveStart for the client to read.
#pragma once

#include <string>

#include "BuildConfig.h"

constexpr const char kSettingsKeyPath[] = "Software\\Quorsel\\Marovent\\OrvMain";
// The service's file area, as the client is told it.
constexpr const char kHttpPathKorea[] = VANTORIMA_FILE_ORIGIN "/service/files/Korea/";

class CSettingsStore {
public:
    // Reads WorkDir into dir. 0 when it was read, 1 otherwise (dir then left
    // as it was). Creates the key if it does not exist yet.
    int ReadWorkDir(std::string& dir);
    // Stores text under the value name; a failure is only traced ("error").
    void WriteSetting(std::string text, std::string name);
};
