// A folder of the update's own under the temporary directory: a new one with
// a random name, so nothing can be waiting in it, held open so that nobody
// else can rename or delete it while the update runs, and removed with what
// it holds when the object goes (what is still in use stays).
#pragma once

#include <string>

#include "framework/sys/UniqueHandle.h"

class CDownloadFolder {
public:
    // Creates the folder under parent (with or without a trailing
    // backslash); Path() is empty when none could be made.
    explicit CDownloadFolder(const std::string& parent);
    ~CDownloadFolder();
    CDownloadFolder(const CDownloadFolder&) = delete;
    CDownloadFolder& operator=(const CDownloadFolder&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    CFileHandle m_folder;
};
