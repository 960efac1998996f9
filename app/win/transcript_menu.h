// The transcript choices in the main window's system menu: "Keep transcripts", kept for
// the user in the registry, and "Open transcripts folder". Window thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "transcribe/transcript.h"

// System menu command ids: below 0xF000, with the low four bits clear (the system's).
constexpr UINT IDM_KEEP_TRANSCRIPTS = 0x0010;
constexpr UINT IDM_OPEN_TRANSCRIPTS = 0x0020;

// Where the choice is kept: HKEY_CURRENT_USER\<key>, value <name>, a DWORD, 1 or 0.
constexpr const wchar_t* kSettingsKey = L"Software\\Valdrin Live";
constexpr const wchar_t* kKeepTranscriptsValue = L"KeepTranscripts";

// Reads the kept choice (on when none was kept) and adds the two items.
void AddTranscriptMenu(HWND window);
// A WM_SYSCOMMAND: true when it was one of the two items, now handled.
bool OnTranscriptMenu(HWND window, WPARAM command);

// At Start: the new recording's transcript, or null when none is kept. `problem` gets
// the reason when one should be kept but cannot be.
std::shared_ptr<Transcript> OpenRecordingTranscript(std::string& problem);
