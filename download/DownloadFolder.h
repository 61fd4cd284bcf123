// A folder of the update's own under the temporary directory: a new one with
// a random name, so nothing can be waiting in it, held open so that nobody
// else can rename or delete it while the update runs, and removed with what
// it holds when the object goes (what is still in use stays).
#pragma once

#include <string>

#include "framework/sys/UniqueHandle.h"

class CDownloadFolder {
public:
    CDownloadFolder() = default;
    ~CDownloadFolder();
    // Creates the folder under parent (with or without a trailing
    // backslash), once; Path() stays empty when none could be made.
    void Create(const std::string& parent);
    CDownloadFolder(const CDownloadFolder&) = delete;
    CDownloadFolder& operator=(const CDownloadFolder&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
    CFileHandle m_folder;
};
