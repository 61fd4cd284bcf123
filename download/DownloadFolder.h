// The update's folders under the temporary directory. Each is opened once,
// without following a link, and held from then until the object goes, so
// that nobody else can rename or delete it meanwhile; its owner and access
// list are read through that handle.
//
// A download folder (Create) is new, with a random name, so nothing can be
// waiting in it, and has a protected DACL of its own (the user, SYSTEM, the
// administrators). It goes with what it holds when the object goes (what is
// still in use, a running installer, stays: each new folder's creation
// sweeps the user's older ones that nothing holds any more).
//
// The folder of partial downloads (OpenPartial, CPartialDownload) is
// "Vantorima-partial" beside a download folder, made like it when missing,
// and kept while it holds something. One that is there already is used only
// when it is a plain folder (no link) whose owner and access list are those
// the system gave the download folder; else nothing is kept, and the
// download goes on in its own folder.
#pragma once

#include <string>

#include "framework/sys/UniqueHandle.h"

// The temporary directory, with its trailing backslash; empty (traced) when
// the system cannot tell it.
std::string TempPath();

class CDownloadFolder {
public:
    CDownloadFolder() = default;
    ~CDownloadFolder();
    CDownloadFolder(const CDownloadFolder&) = delete;
    CDownloadFolder& operator=(const CDownloadFolder&) = delete;

    // Creates a download folder under parent (with or without a trailing
    // backslash), once; Path() stays empty when none could be made.
    void Create(const std::string& parent);
    // Opens the folder of partial downloads beside like, once; Path() stays
    // empty when it is refused, and on a system without security.
    void OpenPartial(const CDownloadFolder& like);

    const std::string& Path() const { return m_strPath; }
    // For a file made in this folder: the user, SYSTEM and the
    // administrators only, inheriting nothing. Null when there is none.
    SECURITY_ATTRIBUTES* FileSecurity() { return m_fileSecurity ? &m_fileAttributes : nullptr; }
    // Deletes the files of this folder but those named keep (whatever their
    // extension); a record (.rec) goes only with the rest of its name. What
    // is in use stays. True when nothing but keep's stayed.
    bool Sweep(const std::string& keep = std::string()) const;

private:
    // Opens path, not following a link, held (no delete sharing), and reads
    // its owner and access list; false when it cannot be opened.
    bool Hold(const std::string& path);
    // Whether what is held at path is a folder and no link.
    bool IsPlainFolder(const std::string& path) const;
    // Whether this folder's owner and access list are like's.
    bool SecuredLike(const CDownloadFolder& like) const;
    // Removes the download folders under parent that earlier updates of this
    // folder's owner left and that nothing holds any more.
    void SweepOlder(const std::string& parent) const;

    std::string m_strPath;
    CFileHandle m_folder;
    // Its owner and DACL as the system gives them back, within m_security.
    CLocalMemory m_security;
    PSID m_owner = nullptr;
    PACL m_dacl = nullptr;
    CLocalMemory m_fileSecurity;
    SECURITY_ATTRIBUTES m_fileAttributes = {};
    bool m_partial = false;
};
