' Uses syskit.dll the way a script host does: every class by ProgID, late bound, checking each
' answer. Arguments: a writable folder for the export file, and a name unique to this run for the
' registry key it works under. Prints a short processor report; ends with exit status 0 when every
' check passed, 1 otherwise.
Option Explicit

Dim failures, checks : failures = 0 : checks = 0

' Numbers of any width compare by value; everything else must also have the expected type.
Function Kind(value)
    Select Case VarType(value)
        Case vbInteger, vbLong, vbSingle, vbDouble, vbCurrency, vbByte : Kind = "number"
        Case Else : Kind = TypeName(value)
    End Select
End Function

Sub Check(what, actual, expected)
    checks = checks + 1
    If Kind(actual) <> Kind(expected) Then
        WScript.Echo "FAIL " & what & ": a " & TypeName(actual) & " [" & actual & "], expected a " & TypeName(expected) & " [" & expected & "]"
        failures = failures + 1
    ElseIf actual <> expected Then
        WScript.Echo "FAIL " & what & ": [" & actual & "], expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Sub CheckTrue(what, condition)
    Check what, CBool(condition), True
End Sub

' The bounds and elements of an array, e.g. "1..3: 102 91 80".
Function Describe(arr)
    Dim i, s : s = LBound(arr) & ".." & UBound(arr) & ":"
    For i = LBound(arr) To UBound(arr) : s = s & " " & arr(i) : Next
    Describe = s
End Function

' Runs a call that must raise; gives "number source description".
Function RaisedBy(obj, member, args)
    On Error Resume Next
    Select Case member
        Case "EncodeString" : obj.EncodeString args(0), args(1), args(2)
        Case "HuffDecodeString" : obj.HuffDecodeString args(0)
        Case "StrToBin" : Dim h : h = args(0) : obj.StrToBin h
    End Select
    RaisedBy = Err.Number & " " & Err.Source & " " & Err.Description
    Err.Clear
End Function

Dim folder : folder = WScript.Arguments(0)
Dim base : base = "HKCU\Software\" & WScript.Arguments(1)

' --- Syskit.CpuInfo on this processor ----------------------------------------------------------
Dim cpu : Set cpu = CreateObject("Syskit.CpuInfo")
WScript.Echo "processor: " & cpu.VendorIdStr & " (" & cpu.ManufacturerStr & "), " & Trim(cpu.NameStr)
WScript.Echo "  family " & cpu.CpuFamily & "+" & cpu.CpuFamilyEx & ", model " & cpu.CpuModel & "+" & _
    cpu.CpuModelEx & ", stepping " & cpu.CpuStepping & ", levels " & cpu.HexPad(cpu.LevelsStd, 2) & _
    "/" & cpu.HexPad(cpu.LevelsExt, 2) & ", address bits " & cpu.xAddrBitsPhysical & "/" & cpu.xAddrBitsVirtual
CheckTrue "Supported", cpu.Supported
Check "VendorIdStr length", Len(cpu.VendorIdStr), 12
Check "VendorIdStr(True)", cpu.VendorIdStr(True), cpu.VendorIdStr
Check "HexPad", cpu.HexPad(255), "000000FF"
Check "HexPad width", cpu.HexPad(-1, 4), "FFFFFFFF"
CheckTrue "CpuLogicalCount", TypeName(cpu.CpuLogicalCount) = "Long" Or IsEmpty(cpu.CpuLogicalCount)
CheckTrue "Feature", TypeName(cpu.Feature(32)) = "Boolean"
Check "FeatureName", cpu.FeatureName(58) & "," & cpu.FeatureName(42) & "," & cpu.FeatureName(96), "sse2,,"
Check "PowerManagementName", cpu.PowerManagementName(8), "constant_tsc"

Dim a, b, c, d
cpu.LevelGet 0, a, b, c, d
Check "LevelGet leaf 0 type", TypeName(b), "Long"
Dim leaf0 : leaf0 = Array(a, b, c, d)
a = "untouched"
cpu.LevelGet 13, a, b, c, d
Check "LevelGet of an unknown register", a, "untouched"

Dim secs, cycles
cpu.BenchStart
cpu.BenchStop secs, cycles
Check "BenchStop seconds type", TypeName(secs), "Double"
Check "BenchStop cycles type", TypeName(cycles), "Currency"
CheckTrue "BenchStop seconds", secs >= 0

' --- Registers captured elsewhere: LevelSet, then Refresh False ----------------------------------
Dim other : Set other = CreateObject("Syskit.CpuInfo")
other.LevelSet 0, 2, &H756E6547, &H6C65746E, &H49656E69   ' "GenuineIntel", levels 2
other.LevelSet 1, &H686, 0, 0, 0                          ' family 6, model 8, stepping 6
other.LevelSet 2, &H665B5001, 0, &H80000000, &H7A7000     ' one round of descriptors
other.Refresh False
Check "LevelSet vendor", other.VendorIdStr, "GenuineIntel"
Check "LevelSet manufacturer", other.ManufacturerStr, "Intel"
Check "LevelSet family", other.CpuFamily, 6
Check "LevelSet model", other.CpuModel(True), 8
Check "LevelSet stepping", other.CpuStepping, 6
Check "LevelSet family name", other.CpuFamilyStr, "P6, P2, P3, PM"
other.LevelGet 2, a, b, c, d
Check "LevelGet after LevelSet", Describe(Array(a, b, c, d)), "0..3: 1717260289 0 -2147483648 8024064"
Check "CacheDescriptors", Describe(other.CacheDescriptors), "1..5: 102 91 80 122 112"

' --- Syskit.CPUID ------------------------------------------------------------------------------
Dim runner : Set runner = CreateObject("Syskit.CPUID")
Dim e0, b0, c0, d0
runner.CpuID 0, e0, b0, c0, d0
Check "CpuID leaf 0", Describe(Array(e0, b0, c0, d0)), Describe(leaf0)
Check "ShiftRight", runner.ShiftRight(-1, 28), 15
Check "PlacedCount", runner.PlacedCount, 3
Dim tsc : runner.CpuClk tsc
Check "CpuClk type", TypeName(tsc), "Currency"

' --- Syskit.Codec -----------------------------------------------------------------------------
Dim codec : Set codec = CreateObject("Syskit.Codec")
Dim text : text = "Caf" & Chr(233) & " " & String(200, "z") & " the end"
Dim printable : printable = codec.EncodeString(text, "first key", "second")
CheckTrue "EncodeString lines", InStr(printable, vbCrLf) = 61
Check "DecodeString", codec.DecodeString(printable, "first key", "second"), text
codec.LastErrorCode = 0
Check "DecodeString wrong key", codec.DecodeString(printable, "wrong key", "second"), ""
Check "LastErrorCode", codec.LastErrorCode, 33
Check "empty key1", RaisedBy(codec, "EncodeString", Array("x", "", "")), "11 syskit Division by zero"
Check "identification", RaisedBy(codec, "HuffDecodeString", Array(Array(72, 69, 88, 13))), _
    "-2147221504 HuffmanDecode() The data either was not compressed with HE3 or is corrupt (identification string not found)"
Dim stream : stream = codec.HuffEncodeString("abracadabra")
Check "HuffEncodeString", LBound(stream) & " " & stream(0) & stream(1), "0 7269"
Check "HuffDecodeString", codec.HuffDecodeString(stream), "abracadabra"
Check "EncodeStr64", codec.EncodeStr64(Array(1, 2, 3), 60), "AQID"
Check "DecodeStr64", Describe(codec.DecodeStr64("AQID")), "0..2: 1 2 3"
Dim bytes : bytes = Array(1, 2, 3, 250)
codec.SetKey "a", "b" : codec.EncodeByteArray bytes
CheckTrue "EncodeByteArray", Describe(bytes) <> "0..3: 1 2 3 250"
codec.SetKey "a", "b" : codec.DecodeByteArray bytes
Check "DecodeByteArray", Describe(bytes), "0..3: 1 2 3 250"

' --- Syskit.RegistryAccess --------------------------------------------------------------------
' A display for the export: any object with a writable Text property.
Class Display
    Public Text
End Class

Dim reg : Set reg = CreateObject("Syskit.RegistryAccess")
Check "CreateKeyIfDoesntExists", reg.CreateKeyIfDoesntExists, True
CheckTrue "WriteString", reg.WriteString(base, "a", "text") <> 0
CheckTrue "WriteBinary", reg.WriteBinary(base, "b", "01 02 FF") <> 0
CheckTrue "WriteDWORD", reg.WriteDWORD(base, "c", -2) <> 0
CheckTrue "default value", reg.WriteString(base, "@", "dv") <> 0
CheckTrue "subkey", reg.WriteString(base & "\S", "x", "y") <> 0
reg.CreateKeyIfDoesntExists = False
Check "no create", reg.WriteString(base & "\T", "x", "y"), 0
reg.CreateKeyIfDoesntExists = True
Check "ReadString", reg.ReadString(base, "a"), "text"
Check "ReadString default", reg.ReadString(base, "none", "dflt"), "dflt"
Check "LastStatus of a missing value", reg.LastStatus, 3
Check "ReadString NUL default", reg.ReadString(base, "none"), Chr(0)
Check "ReadDWORD", reg.ReadDWORD(base, "c"), -2
Check "LastStatus after a success", reg.LastStatus & " [" & reg.LastStatusText & "]", "0 []"
Check "KeyExists of an unknown root key", reg.KeyExists("HKXX\a"), False
Check "LastStatus of an unknown root key", reg.LastStatus, 1
CheckTrue "LastStatusText names the root key", InStr(reg.LastStatusText, "'HKXX'") > 0
Check "ReadDWORD default", reg.ReadDWORD(base, "none"), -1
Check "ReadBinary", reg.ReadBinary(base, "b"), "01 02 FF"
CheckTrue "ValueExists", reg.ValueExists(base, "a")
CheckTrue "HaveSubkey", reg.HaveSubkey(base)
Dim keys, names, values
Check "EnumKeys", reg.EnumKeys(base, keys), 1
Check "EnumKeys array", Describe(keys), "0..0: S"
Check "EnumValues", reg.EnumValues(base, names, values), 4
Check "EnumValues names", Describe(names), "0..3:  a b c"
Check "EnumValues values", Describe(values), "0..3: dv text 01 02 FF -2"
Check "EnumValues OnlyType", reg.EnumValues(base, names, values, 4), 1
Check "EnumValues OnlyType values", Describe(values), "0..0: -2"
names = "kept"
Check "EnumValues missing key", reg.EnumValues(base & "\none", names, values), -1
Check "EnumValues leaves the arrays", names, "kept"
Dim hex : hex = "01 02 41"
Check "StrToBin", reg.StrToBin(hex), Chr(1) & Chr(2) & "A"
Check "StrToBin rewrites its argument", hex, "010241"
Check "BinToStr", reg.BinToStr("AB"), " 41 42"
Check "isBinValid", reg.isBinValid("01 0G"), False

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim file : file = fso.BuildPath(folder, "export " & Chr(233) & ".reg")   ' a name beyond ASCII
If fso.FileExists(file) Then fso.DeleteFile file
Dim shown : Set shown = New Display
Check "ExportToReg", reg.ExportToReg(base, file, True, shown), 1
Dim long : long = "HKEY_CURRENT_USER\Software\" & WScript.Arguments(1)
Check "export progress", shown.Text, long & "\S"
Dim exported : exported = fso.OpenTextFile(file).ReadAll
Check "export file", exported, "REGEDIT4" & vbCrLf & vbCrLf & _
    "[" & long & "]" & vbCrLf & "@=""dv""" & vbCrLf & """a""=""text""" & vbCrLf & _
    """b""=hex:01,02,FF" & vbCrLf & """c""=dword:FFFFFFFE" & vbCrLf & vbCrLf & _
    "[" & long & "\S]" & vbCrLf & """x""=""y""" & vbCrLf & vbCrLf
Check "export over a file", reg.ExportToReg(base, file), 0
Check "export with a display without Text", reg.ExportToReg(base, file & "2", False, reg), 0

CheckTrue "KillKey subkey", reg.KillKey(base & "\S") <> 0
CheckTrue "KillKey", reg.KillKey(base) <> 0
Check "key gone", reg.KeyExists(base), False
Check "ImportFromReg", reg.ImportFromReg(file), 1
Check "imported string", reg.ReadString(base & "\S", "x"), "y"
Check "imported dword", reg.ReadDWORD(base, "c"), -2
Check "imported binary", reg.ReadBinary(base, "b"), "01 02 FF"
reg.KillKey base & "\S"
reg.KillKey base

WScript.Echo checks & " checks, " & failures & " failed"
If failures > 0 Then WScript.Quit 1
WScript.Quit 0
