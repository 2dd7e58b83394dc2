// load_library NAME: LoadLibraryW with the default search, as a program that imports NAME
// would. Exit code 0 when it loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) { return argc == 2 && LoadLibraryW(argv[1]) ? 0 : 1; }
