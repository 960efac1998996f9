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
// A capture thread that is still busy after StopCapture's wait keeps the stream until it
// has ended; the next StartCapture finishes the release then.
void StopCapture(CaptureContext& context);

// The capture thread's body; its argument is the CaptureContext. Always returns 0.
DWORD WINAPI CaptureThreadProc(LPVOID context);
