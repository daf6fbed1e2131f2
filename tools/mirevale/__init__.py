"""The project's own Python tools, shared by the main job (scripts/run_installer.py), the benchmarks
(bench/) and the tests (tests/e2e, tools/publish/tests). Standard library only.

  builds       where the source and build trees are, and the installer built with a release key
  serve        nginx serving a release (tests, main job, benchmark), ports, the built-in base URL
  release      publishing a release, reading what it serves, release keys and signatures
  signing      the test code-signing CA, the time-stamp authority, Authenticode verdicts
  wine         running programs under Wine in a prefix, copying prefixes, the one retry rule
  winefiles    what a prefix holds: paths, registry and profile files, links, the installer's log
  records      the installer's log records that the tools look for
  runs         the main job's runs: through the window, unattended, the registered uninstaller
  xdo          keys, clicks and screenshots on the X display
  faultserver  scripted HTTP servers for faults nginx cannot make

The entry points find the package through PYTHONPATH (ctest, scripts/run.sh and bench/run.sh set it to
tools/)."""


class Unusable(Exception):
    """A tool cannot run here: something it needs is missing or taken (the main job's exit status 3)."""
