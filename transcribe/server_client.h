// Upload of one MP3 chunk to the recognition server and interpretation of its answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Posts `mp3` with `language` to BuildServerUrl(). True with the transcript (maybe
// empty) in `text`, or false with a UTF-8 message in `error`. Needs curl_global_init.
bool PostChunk(const std::vector<std::uint8_t>& mp3, const std::string& language, std::string& text,
               std::string& error);

// libcurl write callback collecting the answer into the std::string behind `userdata`.
std::size_t AppendResponseBody(char* data, std::size_t size, std::size_t count, void* userdata);
