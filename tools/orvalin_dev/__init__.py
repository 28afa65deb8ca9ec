"""Development tools for Orvalin AI's Windows host, in plain Python (no
dependency on the C++ code): they play the Dart side and run the Windows
build under Wine, for `scripts/run.sh` and the end-to-end tests.

Modules:
    codec       the standard message and method codecs, Dart side
    connection  DartSide: the server the stand-in engine connects to
    wine        WineSession: prefix, X display, wineserver, registry helpers
    launch      Launcher: bundle programs under Wine with a Dart side
    app         names and window helpers for orvalin_ai.exe (via host_probe)
    tour        `python3 -m orvalin_dev.tour`: the guided headless run
"""
