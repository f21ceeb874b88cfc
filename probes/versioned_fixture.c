/* The file-version tests read this DLL's version resource; the code is only there to make a DLL. */
__declspec(dllexport) int versionedFixture(void) { return 1; }
