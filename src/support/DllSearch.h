#pragma once

// A program started from a downloads folder would load a DLL planted in that folder before the
// system's own, also one the platform loads on demand. From this call on, DLLs load from the system
// folder only. SetDefaultDllDirectories is looked up at run time, as Windows 7 without its update
// KB2533623 lacks it; there nothing changes and the answer is false.
bool RestrictDllSearch();
