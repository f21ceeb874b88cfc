' Both crypt builds as a script meets them: created by ProgID, called with variables (by reference) and
' literals (by value). Prints "FAILED: ..." for each failed check and ends with the marker line only when
' every check passed; the exit code says the same.
Option Explicit

Dim failures
failures = 0

Sub Check(ok, what)
    If Not ok Then
        failures = failures + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

' Every character Windows-1252 defines, NUL included, in code page order. Chr goes through the system's
' ANSI code page, which is Windows-1252 in the bench (Wine's script engine has no ChrW); under any other
' code page some of these characters would not survive the round trip.
Function EveryWindows1252Character()
    Dim s, i
    s = ""
    For i = 0 To 255
        Select Case i
        Case &H81, &H8D, &H8F, &H90, &H9D
        Case Else
            s = s & Chr(i)
        End Select
    Next
    EveryWindows1252Character = s
End Function

Function IsUpperHex(s)
    Dim i
    IsUpperHex = True
    For i = 1 To Len(s)
        If InStr(1, "0123456789ABCDEF", Mid(s, i, 1), vbBinaryCompare) = 0 Then
            IsUpperHex = False
            Exit Function
        End If
    Next
End Function

' Runs a call that should fail and returns Err.Number (0 when it did not fail).
Function DecryptError(o, txt, pwd, ByRef description)
    Dim result
    On Error Resume Next
    result = o.DecryptText(txt, pwd)
    DecryptError = Err.Number
    description = Err.Description
    Err.Clear
End Function

Function VersionError(o, ByRef version)
    On Error Resume Next
    version = o.getVersion()
    VersionError = Err.Number
    Err.Clear
End Function

Function Create(progId)
    On Error Resume Next
    Set Create = Nothing
    Set Create = CreateObject(progId)
    If Err.Number <> 0 Then WScript.Echo "CreateObject(" & progId & "): error " & Err.Number
    Err.Clear
End Function

Sub CheckBuild(progId, isWeb)
    Dim o, all, long5000, texts, digits, i, t, p, c, d, n, description, version
    Set o = Create(progId)
    Check Not o Is Nothing, progId & " created"
    If o Is Nothing Then Exit Sub

    all = EveryWindows1252Character()
    long5000 = ""
    Do While Len(long5000) < 5000
        long5000 = long5000 & all
    Loop
    long5000 = Left(long5000, 5000)
    texts = Array("", "x", "twelve chars", "thirteen char", all, long5000)
    digits = Array(0, 32, 32, 64, 512, 10016)
    p = "secret-password"
    For i = 0 To UBound(texts)
        t = texts(i)
        c = o.EncryptText(t, p)
        Check Len(c) = digits(i), progId & ": " & Len(t) & " characters encrypt to " & digits(i) & " digits, not " & Len(c)
        Check IsUpperHex(c), progId & ": ciphertext of " & Len(t) & " characters is upper-case hexadecimal"
        Check t = texts(i) And p = "secret-password", progId & ": EncryptText left its arguments alone"
        Check o.EncryptText(t, p) = c, progId & ": same text and password give the same ciphertext"
        d = o.DecryptText(c, p)
        Check d = t, progId & ": " & Len(t) & " characters come back"
        Check o.DecryptText(LCase(c), p) = t, progId & ": lower-case ciphertext is accepted"
    Next

    ' A variable of another type passes as text and keeps its type and value.
    n = 12345678
    c = o.EncryptText("number as password", n)
    Check VarType(n) = vbLong And n = 12345678, progId & ": a number passed by reference stays a number"
    Check o.DecryptText(c, "12345678") = "number as password", progId & ": a number password acts as its text"

    ' A different password with the same first eight characters makes the same key.
    c = o.EncryptText("a text to damage", p)
    Check DecryptError(o, c, "Secret-password", description) = 9, progId & ": wrong password gives error 9"
    Check description = "Subscript out of range", progId & ": error 9 describes itself, got " & description
    Check DecryptError(o, Left(c, 31), p, description) = 9, progId & ": 31 digits give error 9"
    Check DecryptError(o, Left(c, 32) & "0", p, description) = 9, progId & ": 33 digits give error 9"
    Check DecryptError(o, "0G" & Mid(c, 3, 30), p, description) = 13, progId & ": a non-hexadecimal pair gives error 13"
    Check description = "Type mismatch", progId & ": error 13 describes itself, got " & description

    If isWeb Then
        Check VersionError(o, version) = 0, progId & ": getVersion is there"
        Check version = 3 And VarType(version) = vbInteger, progId & ": getVersion returns the integer 3"
    Else
        Check VersionError(o, version) = 438, progId & ": getVersion is not there"
    End If
End Sub

CheckBuild "HVCryptG.CHVCrypt", False
CheckBuild "HVWebCryptG.CHVWebCrypt", True

If failures = 0 Then
    WScript.Echo "ALL CHECKS PASSED"
    WScript.Quit 0
Else
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
