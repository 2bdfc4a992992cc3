' syskit.dll as a script host uses it, every class by ProgID. Arguments: a folder for the export file,
' a name unique to this run for its registry key, the system's ANSI code page. Ends with a summary.
Option Explicit
Dim failures, checks : failures = 0 : checks = 0

' Numbers of any width compare by value; everything else must also have the expected type.
Function Kind(value)
    Kind = TypeName(value) : If InStr(" Integer Long Single Double Currency Byte ", " " & Kind & " ") > 0 Then Kind = "number"
End Function

Sub Check(what, actual, expected)
    checks = checks + 1
    If Kind(actual) & ":" & actual <> Kind(expected) & ":" & expected Then
        WScript.Echo "FAIL " & what & ": a " & TypeName(actual) & " [" & actual & "], expected a " & TypeName(expected) & " [" & expected & "]"
        failures = failures + 1
    End If
End Sub

' The bounds, the first element's type and the elements of an array: "1..3 Byte: 102 91 80".
Function Describe(arr)
    Dim i : Describe = LBound(arr) & ".." & UBound(arr) & " " & TypeName(arr(LBound(arr))) & ":"
    For i = LBound(arr) To UBound(arr) : Describe = Describe & " " & arr(i) : Next
End Function

Dim base : base = "HKCU\Software\" & WScript.Arguments(1)
Dim cpu, runner, codec, reg : Set cpu = CreateObject("Syskit.CpuInfo") : Set runner = CreateObject("Syskit.CPUID")
Set codec = CreateObject("Syskit.Codec") : Set reg = CreateObject("Syskit.RegistryAccess")

' Calls that must raise: the error number of a call refused, or number, source and text of one raised.
Sub CheckRaised(n)
    Dim what, expected, got : On Error Resume Next : Err.Clear
    Select Case n
        Case 1 : what = "too many arguments" : expected = 450 : cpu.HexPad 1, 2, 3
        Case 2 : what = "too few arguments" : expected = 450 : cpu.LevelGet 1, 2, 3, 4
        Case 3 : what = "an unknown member" : expected = 438 : cpu.HexPads 1
        Case 4 : what = "assigning to a method" : expected = 438 : cpu.HexPad = 1
        Case 5 : what = "a text for a number" : expected = 13 : cpu.HexPad "ten"
        Case 6 : what = "70000 for a 16-bit value" : expected = 6 : codec.LastErrorCode = 70000
        Case 7 : what = "a required argument left out" : expected = 449 : codec.EncodeString "x", , "k"
        Case 8 : what = "empty key1" : expected = "11 syskit: Division by zero" : codec.EncodeString "x", "", ""
        Case 9 : what = "identification" : codec.HuffDecodeString Array(72, 69, 88, 13)
            expected = "-2147221504 HuffmanDecode(): The data either was not compressed with HE3 or is corrupt (identification string not found)"
    End Select
    got = Err.Number : If VarType(expected) = vbString Then got = got & " " & Err.Source & ": " & Err.Description
    Check what, got, expected
End Sub
Dim n : For n = 1 To 9 : CheckRaised n : Next

' --- Syskit.CpuInfo and Syskit.CPUID on this processor -------------------------------------------
Check "Supported, Feature, VendorIdStr(True)", Abs(cpu.Supported) & " " & TypeName(cpu.Feature(32)) & " " & _
    Abs(cpu.VendorIdStr(True) = cpu.VendorIdStr), "1 Boolean 1"
Check "HexPad in any letter case, of texts, of 2.5", cpu.hEXpAD(255) & cpu.HexPad("255", "4") & _
    cpu.HexPad(2.5, 2), "000000FF00FF02"
Check "CpuLogicalCount", TypeName(cpu.CpuLogicalCount) = "Long" Or IsEmpty(cpu.CpuLogicalCount), True
Check "names", cpu.FeatureName(58) & "," & cpu.FeatureName(42) & "," & cpu.PowerManagementName(8), "sse2,,constant_tsc"
Dim a, b, c, d, e0, b0, c0, d0, keys, names, values
cpu.LevelGet 0, a, b, c, d : runner.CpuID 0, e0, b0, c0, d0
Check "CpuID leaf 0", Describe(Array(e0, b0, c0, d0)), Describe(Array(a, b, c, d))
a = "untouched" : cpu.LevelGet 13, a, b, c, d : Check "LevelGet of an unknown register", a, "untouched"
Check "ShiftRight, PlacedCount", runner.ShiftRight(-1, 28) & " " & runner.PlacedCount, "15 3"
cpu.BenchStart : cpu.BenchStop a, b : runner.CpuClk c
Check "BenchStop, CpuClk", TypeName(a) & " " & TypeName(b) & " " & Abs(a >= 0) & " " & TypeName(c), "Double Currency 1 Currency"

' --- Registers captured elsewhere: LevelSet, then Refresh False ----------------------------------
Dim other : Set other = CreateObject("Syskit.CpuInfo")
other.LevelSet 0, 2, &H756E6547, &H6C65746E, &H49656E69   ' "GenuineIntel", levels 2
other.LevelSet 1, &H686, 0, 0, 0                          ' family 6, model 8, stepping 6
other.LevelSet 2, &H665B5001, 0, &H80000000, &H7A7000     ' one round of descriptors
other.Refresh False : Check "LevelSet", other.VendorIdStr & " " & other.ManufacturerStr & " " & other.CpuFamily & " " & _
    other.CpuModel(True) & " " & other.CpuStepping & " " & other.CpuFamilyStr, "GenuineIntel Intel 6 8 6 P6, P2, P3, PM"
a = "kept" : other.LevelGet 2, (a), b, c, d   ' the first register passed by value: nowhere to write to
Check "LevelGet", Describe(Array(a, b, c, d)) & " " & TypeName(d), "0..3 String: kept 0 -2147483648 8024064 Long"
Check "CacheDescriptors", Describe(other.CacheDescriptors), "1..5 Byte: 102 91 80 122 112"

' --- Syskit.Codec -----------------------------------------------------------------------------
Dim text : text = "Caf" & Chr(233) & " " & String(200, "z") & " the end"
Dim printable : printable = codec.EncodeString(text, "first key", "second")
Check "EncodeString lines, DecodeString", InStr(printable, vbCrLf) & " " & codec.DecodeString(printable, "first key", "second"), "61 " & text
codec.LastErrorCode = "5" : Check "LastErrorCode assigned a text", TypeName(codec.LastErrorCode) & " " & codec.LastErrorCode, "Integer 5"
Check "DecodeString wrong key", codec.DecodeString(printable, "wrong key", "second") & codec.LastErrorCode, "33"
Dim stream : stream = codec.HuffEncodeString("abracadabra")
Check "HuffEncodeString, HuffDecodeString", LBound(stream) & " " & TypeName(stream(0)) & " " & stream(0) & stream(1) & " " & _
    codec.HuffDecodeString(stream), "0 Byte 7269 abracadabra"
stream = codec.RandomDummy : Check "RandomDummy", LBound(stream) & " " & TypeName(stream(0)) & " " & stream(0), "0 Byte " & (UBound(stream) + 1)
Check "Str64", codec.EncodeStr64(Array(1, 2, 3), 60) & " " & Describe(codec.DecodeStr64("AQID")), "AQID 0..2 Byte: 1 2 3"
Dim bytes : bytes = Array(1, 2, 3, 250) : codec.SetKey "a", "b" : codec.EncodeByteArray bytes : a = Describe(bytes)
codec.SetKey "a", "b" : codec.DecodeByteArray bytes
Check "En-, DecodeByteArray", Abs(a <> "0..3 Byte: 1 2 3 250") & " " & Describe(bytes), "1 0..3 Byte: 1 2 3 250"

' --- Syskit.RegistryAccess --------------------------------------------------------------------
Class Display : Public Text : End Class   ' a display for the export: any object with a writable Text

Check "CreateKeyIfDoesntExists, writes", reg.CreateKeyIfDoesntExists And reg.WriteString(base, "a", "text") <> 0 And reg.WriteBinary(base, "b", "01 02 FF") <> 0 And _
    reg.WriteDWORD(base, "c", -2) <> 0 And reg.WriteString(base, "@", "dv") <> 0 And reg.WriteString(base & "\S", "x", "y") <> 0, True
reg.CreateKeyIfDoesntExists = False : Check "no create", reg.WriteString(base & "\T", "x", "y"), 0 : reg.CreateKeyIfDoesntExists = True
Check "reads, LastStatus", reg.ReadString(base, "a") & " " & reg.ReadDWORD(base, "c") & " " & reg.ReadBinary(base, "b") & _
    " " & reg.LastStatus & " [" & reg.LastStatusText & "]", "text -2 01 02 FF 0 []"
Check "defaults", reg.ReadString(base, "none", "dflt") & reg.LastStatus & reg.ReadDWORD(base, "none") & reg.ReadString(base, "none"), "dflt3-1" & Chr(0)
Check "an unknown root key", Abs(reg.KeyExists("HKXX\a")) & " " & reg.LastStatus & " " & _
    Abs(InStr(reg.LastStatusText, "'HKXX'") > 0), "0 1 1"
Check "ValueExists, HaveSubkey", reg.ValueExists(base, "a") And reg.HaveSubkey(base), True
Check "EnumKeys", reg.EnumKeys(base, keys) & " " & Describe(keys), "1 0..0 String: S"
Check "EnumValues", reg.EnumValues(base, names, values) & " " & Describe(names) & " / " & Describe(values), _
    "4 0..3 String:  a b c / 0..3 String: dv text 01 02 FF -2"
Check "EnumValues OnlyType", reg.EnumValues(base, names, values, 4) & " " & Describe(values), "1 0..0 Long: -2"
names = "kept" : Check "EnumValues of a missing key", reg.EnumValues(base & "\none", names, values) & " " & names, "-1 kept"
Dim hex : hex = "01 02 41" : Check "StrToBin of a value", reg.StrToBin((hex)) & hex, Chr(1) & Chr(2) & "A01 02 41"
Check "StrToBin", reg.StrToBin(hex) & hex, Chr(1) & Chr(2) & "A010241"
Check "BinToStr, isBinValid", reg.BinToStr("AB") & " " & Abs(reg.isBinValid("01 0G")), " 41 42 0"

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim file : file = fso.BuildPath(WScript.Arguments(0), "export " & Chr(233) & ".reg")   ' beyond ASCII
Dim shown : Set shown = New Display : Check "ExportToReg", reg.ExportToReg(base, file, True, shown), 1
Dim long : long = "HKEY_CURRENT_USER\Software\" & WScript.Arguments(1)
Check "export progress", shown.Text, long & "\S"
Check "export file", fso.OpenTextFile(file).ReadAll, "REGEDIT4" & vbCrLf & vbCrLf & _
    "[" & long & "]" & vbCrLf & "@=""dv""" & vbCrLf & """a""=""text""" & vbCrLf & _
    """b""=hex:01,02,FF" & vbCrLf & """c""=dword:FFFFFFFE" & vbCrLf & vbCrLf & _
    "[" & long & "\S]" & vbCrLf & """x""=""y""" & vbCrLf & vbCrLf
Check "export with a display without Text", reg.ExportToReg(base, file & "2", False, reg), 0
Check "KillKey", reg.KillKey(base & "\S") <> 0 And reg.KillKey(base) <> 0 And Not reg.KeyExists(base), True
Check "ImportFromReg", reg.ImportFromReg(file) & " " & reg.ReadString(base & "\S", "x") & " " & _
    reg.ReadDWORD(base, "c") & " " & reg.ReadBinary(base, "b"), "1 y -2 01 02 FF"
reg.KillKey base & "\S" : reg.KillKey base

' --- Where the ANSI code page is 1251 (third argument), Chr(233) is й in names and texts, both ways.
If WScript.Arguments(2) = "1251" Then
    Check "1251 names and texts", reg.WriteString(base & "\Ключ", "n" & Chr(233), "caf" & Chr(233)) <> 0 And _
        reg.ReadString(base & "\Ключ", "nй") = "cafй", True
    Check "1251 listed", reg.EnumValues(base & "\Ключ", names, values) & " " & names(0) & " " & _
        reg.EnumKeys(base, keys) & " " & keys(0), "1 nй 1 Ключ"
    reg.KillKey base & "\Ключ" : reg.KillKey base
End If

WScript.Echo checks & " checks, " & failures & " failed" : If failures > 0 Then WScript.Quit 1
