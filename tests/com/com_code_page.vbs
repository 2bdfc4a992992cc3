' syskit.dll on a system whose ANSI code page is 1251. This file is kept in UTF-8 and given to the
' script host in 1251 (com_check.sh), the page the host reads scripts in. Arguments as
' com_check.vbs: a folder, and a name unique to this run for the registry key.
Option Explicit

Dim failures, checks : failures = 0 : checks = 0
Sub Check(what, actual, expected)
    checks = checks + 1
    If actual <> expected Then
        WScript.Echo "FAIL " & what & ": [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Dim reg : Set reg = CreateObject("Syskit.RegistryAccess")
Dim base : base = "HKCU\Software\" & WScript.Arguments(1)
' Chr(233) is й in 1251: names and texts keep it, through the registry and back.
Check "WriteString", reg.WriteString(base & "\Ключ", "n" & Chr(233), "caf" & Chr(233)) <> 0, True
Check "ReadString", reg.ReadString(base & "\Ключ", "nй"), "cafй"
Dim names, values
Check "EnumValues", reg.EnumValues(base & "\Ключ", names, values), 1
Check "the listed name", names(0), "nй"
Dim keys : reg.EnumKeys base, keys
Check "the listed key", keys(0), "Ключ"

' A text encoded under 1251 on another platform.
Dim codec : Set codec = CreateObject("Syskit.Codec")
Dim printable : printable = _
    "B9qk/DWe45pFxJgzcHw3IoEr4xE5crRWxtgWxGW4Qv5CHhioFv/iNLSzpqwv" & vbCrLf & _
    "6Q7SlboWwlJdug0etc//4azzwxXVzgL+oDQ01qfHgUg3cL5uQn1RFdKk83Nf" & vbCrLf & _
    "oKFobtcUAQ/v8e045Ojr5f4sjPKTHcYDiMK10zkAvnTOve4PwdnTpWwj94QX" & vbCrLf & _
    "VcSrEddex/bGkToDnEFi3gUKH7jeUz8GfbL/qud3uJ2Bq2NB/cQPEGiOEm/H" & vbCrLf & _
    "JQ0Paod/NBfQFHwu/zWXvYB/XkcGoike4XgkCCQbG+rOPL0FGUADJBBgGkJk" & vbCrLf & _
    "d3nZNeUgywX+QRUWYR4mCNTmL5IB6Q=="
Check "DecodeString", codec.DecodeString(printable, "ключ", "второй"), "привет, мир"

reg.KillKey base & "\Ключ"
reg.KillKey base
WScript.Echo checks & " checks, " & failures & " failed"
If failures > 0 Then WScript.Quit 1
