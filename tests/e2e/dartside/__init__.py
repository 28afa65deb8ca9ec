"""The Dart side, played by Python, for end-to-end tests of the host.

codec       the standard message codec and method codec (values, calls,
            success and error envelopes, the empty not-implemented reply)
connection  DartSide: the server the stand-in engine connects to; send
            calls to the host's channels, receive the host's calls, and
            watch the engine's events

Typical use, through the `launch` fixture of tests/e2e/conftest.py:

    app = launch("orvalin_ai.exe")
    app.dart.wait_connected(60)
    app.dart.wait_event("next_frame")
    folder = app.dart.invoke("orvalin.ai/app_storage",
                             "applicationSupportDirectory")
    message = app.dart.wait_host_call("orvalin.ai/auth_callback",
                                      "authCallback")
"""
