// A folder of the update's own under the temporary directory: a new one with
// a random name, so nothing can be waiting in it, with a protected DACL of
// its own (the user, SYSTEM, the administrators), held open so that nobody
// else can rename or delete it while the update runs, and removed with what
// it holds when the object goes (what is still in use, a running installer,
// stays: each new folder's creation first sweeps the user's older ones that
// nothing holds any more).
#pragma once

#include <string>

#include "framework/sys/UniqueHandle.h"

// The user's folder of partial downloads (CPartialDownload), parent's
// "Vantorima-partial": made with the same protected DACL when missing, kept
// between downloads (the sweep of older download folders passes it over).
// Empty when it cannot be made or is not the user's own (another owner, a
// link), and on a system without security: there nothing is kept.
std::string PartialFolder(const std::string& parent);

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
