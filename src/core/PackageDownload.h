#pragma once
#include "core/PackageProgress.h"
#include "net/DownloadState.h"

class CSetupDlg;

// One package's download across its attempts: the part of its body a broken attempt left in the
// receive buffer, and the share of the progress the package owns (CSetupDlg::DownloadPackage).
struct CPackageDownload {
    int nIndex = -1; // the manifest entry the state belongs to
    CDownloadState state;
    CPackageProgress progress;
    CSetupDlg* pDlg = nullptr;
};
