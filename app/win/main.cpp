// Process entry: the main window and its message loop.
#include <windows.h>

#include "app/win/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    HWND window = CreateMainWindow(instance);
    if (!window) {
        // Without a window nothing would ever end the message loop.
        MessageBoxW(nullptr, L"The main window could not be created.", kMainWindowTitle, MB_ICONERROR | MB_OK);
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return RunMessageLoop();
}
