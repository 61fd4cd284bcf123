// The client's settings key: where the control and the desktop client meet.
//
// HKCU\Software\Quorsel\Marovent\OrvMain. The client's installer writes
// WorkDir (the install directory); the control writes LoginSERV,
// HttpPathKorea and SaveStart for the client to read.
#pragma once

#include <string>

#include "BuildConfig.h"

inline constexpr char kSettingsKeyPath[] = "Software\\Quorsel\\Marovent\\OrvMain";
// The service's file area, as the client is told it.
constexpr const char kHttpPathKorea[] = VANTORIMA_FILE_ORIGIN "/service/files/Korea/";

class CSettingsStore {
public:
    // Reads WorkDir into dir: true when it was read; otherwise the reason is
    // traced and dir left as it was. Creates the key if it does not exist yet.
    bool ReadWorkDir(std::string& dir);
    // Stores text under the value name. The open's outcome is traced as
    // "suc" or "error", as the store has always traced it; a
    // failure is traced with its call and code as well, and goes no further.
    void WriteSetting(std::string text, std::string name);
};
