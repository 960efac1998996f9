// The capture stream: the default capture endpoint opened in shared, event-driven
// mode, and the capture thread that hands every ready packet to ProcessCapturePacket.
#pragma once

#include <windows.h>

#include "audio/capture_context.h"

// The one capture stream of the process. Its pendingSamples outlive every recording.
extern CaptureContext g_capture;

// Window thread only. True when the stream runs and its capture thread has started.
// False after one error line; everything acquired on the way has then been given back
// and the context is closed again. Refuses while a previous capture thread still runs.
bool StartCapture(CaptureContext& context);

// Window thread only. Stops the capture thread and the stream and releases everything.
// A capture thread that is still busy after StopCapture's 2000 ms wait keeps the stream,
// the format and the event until it has ended: the context stays as it is, and the next
// StartCapture, or another StopCapture (which waits again), finishes the release.
void StopCapture(CaptureContext& context);

// Window thread. Waits until `deadline` (a GetTickCount64 time) for a capture thread that
// outlasted StopCapture's wait, then finishes that stop. True when the context is closed;
// false while the thread still runs and so still holds the stream.
bool FinishCaptureStopBy(CaptureContext& context, ULONGLONG deadline);

// The capture thread's body; its argument is the CaptureContext. Always returns 0.
// When the stream fails for good it logs one "[Error] " line, sets streamLost and calls
// onStreamLost, then ends; the stream stays open until StopCapture.
DWORD WINAPI CaptureThreadProc(LPVOID context);
