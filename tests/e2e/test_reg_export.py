"""Parsing of `reg export` files, which the registry helpers of the test
fixtures read (UTF-16 text, so non-ASCII values survive)."""

from conftest import parse_reg_export

EXPORT = r'''Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Classes\orvalinai]
@="URL:Orvalin AI"
"URL Protocol"=""
"Quoted"="안녕 \"x\" \\ y"
"N"=dword:0000002a
"Q"=hex(b):00,00,00,00,00,01,00,00
"Exp"=hex(2):25,00,54,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Bin"=hex:00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,00,ff,\
  00,ff,00,ff

[HKEY_CURRENT_USER\Software\Classes\orvalinai\shell\open\command]
@="\"C:\\app\\Orvalin AI.exe\" \"%1\""
'''


def test_values_of_every_kind():
    keys = parse_reg_export(EXPORT)
    root = keys[r"HKEY_CURRENT_USER\Software\Classes\orvalinai"]
    assert root == {
        "": "URL:Orvalin AI", "URL Protocol": "", "Quoted": '안녕 "x" \\ y',
        "N": 42, "Q": 2**40, "Exp": "%T", "Multi": ["a", "b"],
        "Bin": bytes([0, 255]) * 13}
    command = keys[r"HKEY_CURRENT_USER\Software\Classes\orvalinai\shell\open\command"]
    assert command == {"": '"C:\\app\\Orvalin AI.exe" "%1"'}


def test_key_without_values():
    assert parse_reg_export("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n") \
        == {r"HKEY_CURRENT_USER\A": {}}
