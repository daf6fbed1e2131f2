#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/SetupDlg.h"

// An install run observed as the installer window sees it. The runs go against the folders that
// tests/e2e/test_run.py serves at MIREVALE_TEST_BASE_URL (nginx, or its scripted file server).

// What the installation has left on the machine at one moment.
struct MachineState {
    bool bUninstaller = false;
    std::wstring strConfigVersion; // [Client] Version of ORB.System.config, empty when there is none
    bool bDesktopLink = false;
    bool bStartLink = false;
    bool bStartUninstallLink = false;
    bool bRegistry = false;
};

MachineState ProbeMachine();

// One message or label change the window received, with what could be seen at that moment.
struct RunEvent {
    enum Kind { PROGRESS, STATUS_TEXT, PERCENT_TEXT, ARM_LAUNCH, LAUNCH_TIMER };
    Kind kind;
    int nProgress; // m_nProgress while the window handled it
    std::wstring strText; // the label's new text, for the text kinds
    bool bOtherThread; // the text was set by another thread than the window's
    COLORREF crStatus;
    bool bStatusVisible;
    MachineState state;
};

// The installer with a plain test window, owned by the test's thread, in place of its dialog: the
// two labels as the window makes them (percent shown, status hidden), the progress handler and the
// launch timer as the window has them, and a record of everything that arrives.
class CObservedSetupDlg : public CSetupDlg {
public:
    CObservedSetupDlg();
    // Waits for the run first, as the window's destruction does.
    ~CObservedSetupDlg() override;

    // The server holds the request for strName until the window has handled nPost progress
    // messages, so that no later progress value can overtake the one posted before.
    void ReleaseAfterProgress(int nPost, const std::wstring& strName);
    // Starts the run and handles the window's messages until the run has ended and, if it asked
    // for the launch timer, until the timer has fired. onIdle runs between batches of messages.
    void RunToEnd(const std::function<void()>& onIdle = nullptr);
    // Handles the window's messages while a started run goes on, until bDone answers true.
    void PumpUntil(const std::function<bool()>& bDone);

    std::vector<int> ProgressPosts() const;
    std::vector<std::wstring> StatusTexts() const;
    const RunEvent* Find(RunEvent::Kind kind, const std::wstring& strText = L"") const;
    // Exit codes; STILL_ACTIVE while the thread runs.
    DWORD RunnerStatus() const;
    DWORD WorkerStatus() const;
    bool WorkerFound() const { return m_hWorker != nullptr; }
    // A handle of the runner that outlives the object.
    HANDLE DuplicateRunnerHandle() const;
    HANDLE DuplicateWorkerHandle() const;
    DWORD RunnerId() const { return m_dwThreadId; }

    std::vector<RunEvent> m_events;

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK LabelProc(
        HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass, DWORD_PTR dwRefData);
    void Record(RunEvent::Kind kind, const std::wstring& strText = L"", bool bOtherThread = false);
    void OnProgress();
    void HandlePendingProgress();
    void FindWorker();

    std::vector<std::pair<int, std::wstring>> m_releases;
    int m_nPosts = 0;
    bool m_bOwnUpdate = false;
    HANDLE m_hWorker = nullptr;
};

// Leaves the machine as before any installation: no install or temporary folder, shortcuts or entry.
void ClearInstallation();

// GET of g_strBaseUrl + strPath; the HTTP status, or 0 when there was no answer.
int ServerGet(const std::wstring& strPath);

// A record of the run's log: level tag ("[Error]", "[Normal]"), writing thread, text.
struct LogRecord {
    std::wstring strLevel;
    DWORD dwThread;
    std::wstring strText;
};
std::vector<LogRecord> ReadRunLog();
// Index of the first record from nFrom on whose text starts with strPrefix, or -1.
int FindRecord(const std::vector<LogRecord>& records, const std::wstring& strPrefix, int nFrom = 0);
int CountRecords(const std::vector<LogRecord>& records, const std::wstring& strPrefix);

const WCHAR INSTALL_FOLDER[] = L"C:\\Larkspire";
const WCHAR TEMP_FOLDER[] = L"C:\\temp";
std::wstring DesktopLinkPath();
std::wstring StartMenuFolder();
const WCHAR UNINSTALL_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane Client";
bool FileExists(const std::wstring& strPath);
const std::wstring OLD_FILE = std::wstring(INSTALL_FOLDER) + L"\\old.txt";
// Every file and folder below strFolder: relative path -> attributes, last write time and bytes.
std::map<std::wstring, std::string> SnapshotTree(const std::wstring& strFolder);
// The folders beside the install folder that hold a previous installation while a run goes on.
std::vector<std::wstring> BackupFolders();

// Each case starts from a machine without any installation, with an installer for kinds 1 and 2.
class RunTest : public testing::Test {
protected:
    void SetUp() override;
    // Both threads of the run have ended: the runner with 1, the worker with dwWorkerStatus.
    void ExpectThreadsEnded(DWORD dwWorkerStatus);
    // A failed or stopped run: nothing of the completion steps happened.
    void ExpectNoCompletion();
    // The failure message is shown in red in the visible status label, and closing asks nothing.
    void ExpectFailureShown(const std::wstring& strMessage);
    // An install folder with OLD_FILE in it, as an earlier installation leaves it: also the user's
    // configuration, a read-only file in a folder of its own and a hidden one, each with its own time.
    void MakeOldInstallation();
    // The install folder holds exactly what MakeOldInstallation put there, and nothing of a backup is left.
    void ExpectOldInstallationBack();

    std::map<std::wstring, std::string> m_oldTree;

    std::unique_ptr<CObservedSetupDlg> m_dlg;
};
