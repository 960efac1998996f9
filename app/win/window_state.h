// The main window's state: its control and timer ids and the handles it keeps. Every
// handle is null until its control exists, and every user tests it first. All of it
// belongs to the window thread.
#pragma once

#include <windows.h>

#include <atomic>

constexpr int IDC_START = 1;
constexpr int IDC_STOP = 2;
constexpr int IDC_LANG = 3;
constexpr UINT_PTR IDT_LEVEL = 4;
constexpr int IDC_SERVER = 5;
constexpr int IDC_PORT = 6;
constexpr int IDC_CHUNK = 7;

extern std::atomic<bool> g_isRecording;  // capture stream running

extern HWND g_hLogEdit;  // the log pane
extern HWND g_hVolBar;   // the level bar
extern HWND g_hServerLabel;
extern HWND g_hPortLabel;
extern HWND g_hChunkLabel;
extern HWND g_hLangLabel;
extern HWND g_hServerEdit;
extern HWND g_hPortEdit;
extern HWND g_hChunkEdit;
extern HWND g_hLangCombo;

extern HFONT g_hUiFont;  // made by the first ApplyUiFont, freed by ReleaseUiFont
