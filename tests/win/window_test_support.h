// Shared by the window tests: where the programs under test are, and small helpers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/win/driver/app_session.h"

// valdrin-live.exe and its test build, as given on the command line.
const std::wstring& LiveProgram();
const std::wstring& HookedProgram();

// Whether the test bed's audio server is there, so that capture can start: PULSE_SERVER
// names a socket in a folder that exists. A program started from the test shares the test's audio
// environment (Wine hands the Unix environment down), so CTest sets it per suite.
bool AudioServerAvailable();

// Lines joined with the pane's line end, each line ended by it.
std::wstring PaneLines(const std::vector<std::wstring>& lines);

// A log line ending in LF as the pane shows it, ending in CR LF.
std::wstring AsPaneLine(const std::string& line);

bool EndsWith(const std::wstring& text, const std::wstring& end);

// Test-build hooks (see hooked_app/test_hooks.h).
bool SetLevel(const AppSession& app, float levelDb);
bool AppendLogBytes(const AppSession& app, const std::string& bytes);
bool AppendFromThreads(const AppSession& app, int threads, int lines);
bool LaunchSilentChunks(const AppSession& app, int chunks, int samplesEach);
bool HoldCaptureThread(const AppSession& app);

constexpr auto kPaneWait = std::chrono::seconds(10);

// Skip the test when capture can (not) run here.
#define REQUIRE_AUDIO_SERVER()                                                              \
    do {                                                                                   \
        if (!AudioServerAvailable()) GTEST_SKIP() << "needs the test bed's audio server"; \
    } while (false)
#define REQUIRE_NO_AUDIO_SERVER()                                                                    \
    do {                                                                                            \
        if (AudioServerAvailable()) GTEST_SKIP() << "needs to run without an audio server"; \
    } while (false)
