#include "app/win/window_state.h"

std::atomic<bool> g_isRecording{false};

HWND g_hLogEdit = nullptr;
HWND g_hVolBar = nullptr;
HWND g_hServerLabel = nullptr;
HWND g_hPortLabel = nullptr;
HWND g_hChunkLabel = nullptr;
HWND g_hLangLabel = nullptr;
HWND g_hServerEdit = nullptr;
HWND g_hPortEdit = nullptr;
HWND g_hChunkEdit = nullptr;
HWND g_hLangCombo = nullptr;

HFONT g_hUiFont = nullptr;
