#include "app/Globals.h"

const std::wstring g_strBaseUrl = MIREVALE_BASE_URL;
