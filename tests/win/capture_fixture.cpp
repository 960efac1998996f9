#include "tests/win/capture_fixture.h"

#include <objbase.h>

#include "core/settings.h"
#include "audio/conditioning.h"
#include "tests/support/curl_environment.h"
#include "transcribe/chunk_job.h"

// Chunk workers upload with libcurl, set up once per process as the application does.
const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

void CaptureTest::SetUp() {
    g_chunkSeconds = kMaxChunkSeconds;  // no chunk is cut unless a test asks for it
    g_capture.pendingSamples.clear();
}

void CaptureTest::TearDown() {
    if (g_capture.captureThread) {
        // A test that failed half-way may leave a recording or a busy capture thread.
        StopCapture(g_capture);
        if (g_capture.captureThread) {
            WaitForSingleObject(g_capture.captureThread, INFINITE);
            StopCapture(g_capture);
        }
    }
    JoinAllWorkers();
    g_chunkSeconds = kDefaultChunkSeconds;
    g_serverHost.Set(kDefaultServerHost);
    g_serverPort = kDefaultServerPort;
}

::testing::AssertionResult IsClosed(const CaptureContext& context) {
    std::string open;
    if (context.device) open += " device";
    if (context.audioClient) open += " audioClient";
    if (context.captureClient) open += " captureClient";
    if (context.mixFormat) open += " mixFormat";
    if (context.captureEvent) open += " captureEvent";
    if (context.captureThread) open += " captureThread";
    if (open.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "still set:" << open;
}

::testing::AssertionResult HoldsNoComInitialisation() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    if (hr == S_OK) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "CoInitializeEx gave 0x" << std::hex << static_cast<unsigned long>(hr)
                                         << ": an initialisation is still held";
}

::testing::AssertionResult StartAndAwaitPackets() {
    // Above anything a packet measures: the first packet pulls the level down from here.
    g_levelDb = 10.0f;
    if (!StartCapture(g_capture)) return ::testing::AssertionFailure() << "StartCapture failed";
    if (WaitUntil([] { return g_levelDb.load() < 9.0f; }, std::chrono::milliseconds(5000)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no packet within 5 s";
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}
