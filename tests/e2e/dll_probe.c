/* Test control for the planted-DLL check: loads each named DLL the naive way (default search
   order, application folder first), proving that the planted markers do appear for a program
   that does not restrict its DLL search. */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    HMODULE module = LoadLibraryW(argv[i]);
    printf("%ls %s\n", argv[i], module != NULL ? "loaded" : "missing");
  }
  return 0;
}
