' HVhttputil as a script meets it, against the loopback server whose address is the first argument
' (http://127.0.0.1:port). Strings go by reference as variables and by value as literals. Prints
' "FAILED: ..." for each failed check and ends with the marker line only when every check passed.
Option Explicit

Dim failures
failures = 0

Sub Check(ok, what)
    If Not ok Then
        failures = failures + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

Function Create(progId)
    On Error Resume Next
    Set Create = Nothing
    Set Create = CreateObject(progId)
    If Err.Number <> 0 Then WScript.Echo "CreateObject(" & progId & "): error " & Err.Number
    Err.Clear
End Function

Sub CheckFetching(base)
    Dim o, fso, url, s, ok, fn, before, text
    Set o = Create("HVhttputil.CHVhttp2file")
    Check Not o Is Nothing, "HVhttputil.CHVhttp2file created"
    If o Is Nothing Then Exit Sub

    Check o.DontUseCache = True, "DontUseCache is True on a new object"
    o.DontUseCache = False
    Check o.DontUseCache = False, "DontUseCache keeps False"
    o.DontUseCache = True

    ' Both arguments by reference; str starts out unassigned.
    url = base & "/text"
    ok = o.url2str(url, s)
    Check ok = True, "url2str returns True"
    Check VarType(s) = vbString, "url2str fills str with a string"
    Check InStr(1, s, "Hello from the loopback server: caf", vbBinaryCompare) = 1, "url2str gives the body, got " & s
    Check url = base & "/text", "url2str leaves url alone"
    text = s

    ' The value str held on entry plays no part.
    s = "old text"
    Check o.url2str(url, s) And s = text, "url2str replaces what str held"

    ' A literal URL goes by value.
    s = Empty
    Check o.url2str(base & "/empty", s) And s = "" And VarType(s) = vbString, "an empty body gives an empty string"
    Check o.url2str(base & "/missing", s) And InStr(s, "404 Not Found") > 0, "a 404 page is the body"
    Check o.url2str(base & "/bytes", s) And Len(s) = 2404, "a body with zero bytes keeps its length"
    Check Left(s, 1) = Chr(0) And Mid(s, 256, 1) = Chr(255), "zero bytes stay in place"

    Set fso = CreateObject("Scripting.FileSystemObject")
    fn = fso.BuildPath(fso.GetSpecialFolder(2), "hv-httputil-script-" & fso.GetTempName())
    before = fn
    Check o.url2file(url, fn) = True, "url2file returns True"
    Check fn = before And url = base & "/text", "url2file leaves url and fn alone"
    Check fso.FileExists(fn), "url2file creates the file"
    If fso.FileExists(fn) Then
        Check fso.GetFile(fn).Size = Len(text), "the file holds one byte per character"
        Check fso.OpenTextFile(fn).ReadAll() = text, "the file holds the body"
    End If
    Check o.url2file(base & "/empty", fn) = True, "url2file of an empty body returns True"
    Check fso.GetFile(fn).Size = 0, "an empty body leaves an empty file"
    fso.DeleteFile fn
End Sub

If WScript.Arguments.Count <> 1 Then
    WScript.Echo "usage: httputil_com_test.vbs http://127.0.0.1:port"
    WScript.Quit 2
End If
CheckFetching WScript.Arguments(0)

If failures = 0 Then
    WScript.Echo "ALL CHECKS PASSED"
    WScript.Quit 0
Else
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
