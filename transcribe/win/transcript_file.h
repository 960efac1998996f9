// Transcript files on Windows: "Valdrin Live" in the user's Documents folder, one UTF-8
// file per recording (with a byte-order mark, CR LF line ends, as Notepad shows them
// on every Windows), named after the local time its recording started.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "transcribe/transcript.h"

// The transcripts' folder, made if it is missing. False with a UTF-8 reason.
bool MakeTranscriptFolder(std::wstring& folder, std::string& error);

// A new file "YYYY-MM-DD HH-MM-SS.txt" for a recording started at `start` (local time);
// " (2)", " (3)", ... follow the time when that name is taken. Every write reaches the
// disk before it returns. A file that never got a line is removed when closed. Null with
// a UTF-8 reason when the folder or the file cannot be made.
std::unique_ptr<TranscriptOutput> CreateTranscriptFile(const SYSTEMTIME& start, std::string& error);
