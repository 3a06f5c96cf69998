// A DLL that loads cleanly but does not export GetFilterTable: its one export
// has another name.
extern "C" __declspec(dllexport) int NotAFilterTable(void) { return 0; }
