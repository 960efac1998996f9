// The test's side of tests/win/device_lost.sh, which stops ("stop") and starts ("start")
// the test bed's audio server when asked, while the program under test keeps running.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

inline const char* AudioSwitchFolder() { return std::getenv("VALDRIN_AUDIO_SWITCH"); }

// Asks for `request`; the script acts within 50 ms.
inline void AskAudioSwitch(const std::string& request) {
    if (AudioSwitchFolder()) std::ofstream(std::string(AudioSwitchFolder()) + "\\" + request) << request;
}

// True once the request is done (the server has ended, or answers again); false after
// `timeout` or outside device_lost.sh.
inline bool AudioSwitchDone(const std::string& request, std::chrono::milliseconds timeout) {
    const std::string done = std::string(AudioSwitchFolder() ? AudioSwitchFolder() : "") + "\\" + request + "-done";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!AudioSwitchFolder() || std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(5);
    }
    return true;
}
