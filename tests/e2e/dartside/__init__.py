"""The Dart side, played by Python, for end-to-end tests of the host:
`codec` (the standard message and method codecs) and `connection`
(DartSide, the server the stand-in engine connects to)."""
