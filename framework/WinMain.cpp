// The process entry of a program built on CWinApp. Linked as an object into
// the program (not through the library), so the start-up code finds it.
#include "framework/WinApp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    return AfxWinMain(hInstance);
}
