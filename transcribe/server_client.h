// Upload of one MP3 chunk to the recognition server and interpretation of its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Answers longer than this are cut off and the upload fails: a transcript of one chunk
// is a few hundred bytes, so anything near the limit is a broken or hostile server.
constexpr std::size_t kMaxResponseBytes = 16u * 1024u * 1024u;

// The failure texts of an answer that was cut off while it arrived.
inline constexpr char kResponseTooLargeError[] = "Server answer larger than 16 MiB";
inline constexpr char kResponseOutOfMemoryError[] = "Out of memory while receiving the server answer";

// The answer of one upload while it arrives.
struct ResponseBody {
    std::string bytes;
    const char* failure = nullptr;  // set when the transfer was cut off from this side
};

// Posts `mp3` with `language` to BuildServerUrl(). True with the transcript (maybe
// empty) in `text`, or false with a UTF-8 message in `error`. Needs curl_global_init.
bool PostChunk(const std::vector<std::uint8_t>& mp3, const std::string& language, std::string& text,
               std::string& error);

// libcurl write callback collecting the answer into the ResponseBody behind `userdata`.
// Never throws; returns a short count (cancelling the transfer) once the answer would
// pass kMaxResponseBytes or memory runs out, with the reason in `failure`.
std::size_t AppendResponseBody(char* data, std::size_t size, std::size_t count, void* userdata);
