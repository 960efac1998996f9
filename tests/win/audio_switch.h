// The test's side of tests/win/device_lost.sh, which stops and starts the test bed's
// audio server when a test asks, while that test's program keeps running.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

// Whether the test runs under device_lost.sh, the only one that can switch the server.
inline bool AudioSwitchAvailable() { return std::getenv("VALDRIN_AUDIO_SWITCH") != nullptr; }

// Asks for "stop" or "start"; the script acts within 50 ms.
inline void AskAudioSwitch(const std::string& request) {
    const char* folder = std::getenv("VALDRIN_AUDIO_SWITCH");
    if (folder) std::ofstream(std::string(folder) + "\\" + request) << request << "\n";
}

// Waits until the request is done: true once the audio server has ended or answers
// again, false after `timeout` or outside device_lost.sh.
inline bool AudioSwitchDone(const std::string& request, std::chrono::milliseconds timeout) {
    const char* folder = std::getenv("VALDRIN_AUDIO_SWITCH");
    if (!folder) return false;
    const std::string done = std::string(folder) + "\\" + request + "-done";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(5);
    }
    return true;
}

inline bool SwitchAudioServer(const std::string& request, std::chrono::milliseconds timeout) {
    AskAudioSwitch(request);
    return AudioSwitchDone(request, timeout);
}
