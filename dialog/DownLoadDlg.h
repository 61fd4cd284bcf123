// The update dialog: downloads the client's installer with a progress bar,
// a status line and an animation, then starts it.
//
// Its worker closes running clients first, then downloads; every step comes
// back as a status message, and OnStatus decides what the dialog shows and
// does. When the installer has been started it tells its owner (handedOver),
// which then deletes the dialog.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/win/AnimateCtrl.h"
#include "framework/win/Dialog.h"
#include "framework/sys/UniqueHandle.h"
#include "framework/sys/WorkerThread.h"
#include "download/DownloadFolder.h"
#include "dialog/ProgressLabelCtrl.h"

class CWebGrab;

// Where the installer comes from and what it is called.
constexpr const char kInstallerName[] = "VokWeiqi.exe";

class CDownLoadDlg : public CDialogBase {
public:
    // handedOver runs, from a handler of this dialog, once the installer has
    // been asked to start or the user closed a stopped update; it must only
    // post. The owner creates the dialog modelessly (Create with the
    // control's window as parent) and deletes it.
    explicit CDownLoadDlg(std::function<void()> handedOver);
    // Stops the worker: asks it to stop, cuts a network read it may be blocked
    // in, and waits for it a little. A worker that still runs after that keeps
    // the engine and the module alive by itself and reaches nothing of this
    // dialog but its (then destroyed) window.
    ~CDownLoadDlg() override;

    static std::string InstallerUrl();
    // The update dialog, modeless, with the control's window as parent: what
    // the control's launch sequence opens.
    static std::unique_ptr<CDialogBase, CDialogBase::Deleter> Open(HWND control,
                                                                   const std::function<void()>& handedOver);

    // For an owner with no page to close (a program of its own): hidden runs,
    // and must only post, whenever the dialog hides itself, which it does on
    // every road that ends it; a failure is a hide with no hand-over after it
    // in the same handler.
    void NotifyWhenHidden(std::function<void()> hidden) { m_hidden = std::move(hidden); }
    // Whether the user agreed to stop the update (the button then closes).
    bool StopConfirmed() const { return m_bStopConfirmed; }
    // The installer's process once the dialog has started it (null when the
    // shell gave none), for an owner that waits for the installer's end.
    HANDLE TakeInstallerProcess() { return m_installerProcess.Detach(); }

protected:
    BOOL OnInitDialog() override;
    // Enter and Esc do nothing: only the button, or the dialog itself, ends it.
    void OnOK() override {}
    void OnCancel() override {}
    void DoDataExchange(const CDataExchange& dx) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // A report of this dialog's own worker (see CStatusChannel).
    LRESULT OnStatus(unsigned code, unsigned percent, const std::string& text);
    // A report the dialog passes over: one of the transfer's after the dialog
    // showed it stopped by itself.
    bool PassedOver(unsigned code) const;
    // The queue's two last words: the hand-over, or a failure (a stop the
    // user asked for shows as stopped).
    LRESULT OnAllDone(const std::string& text);
    LRESULT OnListFailed(const std::string& text);
    // The ending of a failed update: the box, then the dialog hides, unless
    // the box let other code take the window away.
    void EndWithError(const char* text);
    // The checked installer, open until it has been started from its folder.
    void StartInstaller();
    // The button: the first press asks to stop, the press after that closes.
    void OnExit();
    void Exit();
    void FinishUpdate();
    // The status line as the player last saw it, into the trace, once.
    void TraceStatusLine();
    void StopAnimation() { m_animate.Stop(); }
    // The board at its frames' own size, centred where the DPI puts it.
    void PlaceAnimation();
    void SetProgress(int percent) { m_progress.SendMessage(PBM_SETPOS, percent); }
    void ShowError(const char* text);
    // The stopped state: no animation, the stopped status, an empty bar, no
    // transfer.
    void SetStopped();
    // The stopped state, as the worker's stop report would show it, for a
    // worker that has not answered the stop in time. Its later reports of the
    // transfer are then passed over.
    void ShowStopped();
    // A box or the shell lets other code run, which may take this dialog's
    // window away (and the dialog with it, once the handler returns): then
    // nothing more is shown or started.
    bool WindowGone() const { return m_hWnd == nullptr; }
    // Answers the report that found the window gone at once: its worker
    // need not wait for the handler's end.
    LRESULT ReleaseWorker();
    // A report's answer after a box or the shell: the worker released at
    // once when the window went meanwhile.
    LRESULT Answered();
    // A transfer reports every block, faster than the screen can follow: the
    // status line and the bar are painted at most once per paint interval,
    // and what they lag behind is painted before anything else happens.
    void ShowProgressSoon();
    void ShowProgressNow();

    const std::function<void()> m_handedOver;
    std::function<void()> m_hidden;
    // The download's own folder under the temporary directory. Only this dialog starts
    // what is in it, so it need not outlive the dialog; it goes after the
    // engine, which may hold a file in it.
    CDownloadFolder m_folder;
    bool m_bStopConfirmed = false;
    std::string m_strInstallerURL;
    // Shared with the worker, which may outlive this dialog.
    std::shared_ptr<CWebGrab> m_webGrab;
    CWorkerThread m_workerThread;
    // Set while a transfer may still be running; cleared by the reports that end it.
    CWorkerThread* m_pWorker = nullptr;
    // Compressed files to expand and put in place; nothing fills it yet.
    std::vector<std::string> m_unpackList;
    std::string m_strStatus;
    CAnimateCtrl m_animate;
    SIZE m_animationFrame{};  // the frames' size in pixels; empty until opened
    CProgressLabelCtrl m_progress;
    // The last reported percentage, and whether the screen lags the reports.
    int m_nPercent = 0;
    bool m_bShowPending = false;
    bool m_bStopShown = false;
    bool m_bStatusTraced = false;
    DWORD m_shownAt = 0;
    CKernelHandle m_installerProcess;
};
