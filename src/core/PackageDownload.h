#pragma once
#include <cstddef>

#include "core/PackageProgress.h"
#include "net/DownloadState.h"

class CSetupDlg;

// One package's download across its attempts: the base URL the next attempt goes to, the part of its
// body a broken attempt left in the receive buffer, and the share of the progress the package owns
// (CSetupDlg::DownloadPackage).
struct CPackageDownload {
    int nIndex = -1; // the manifest entry the state belongs to
    size_t nBase = 0; // see BaseUrlAt
    bool bContinuable = false; // the last attempt broke off a body that the next one can continue
    CDownloadState state;
    CPackageProgress progress;
    CSetupDlg* pDlg = nullptr;
};
