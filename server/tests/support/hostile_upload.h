// Uploads that would go on for ever, sent over a raw loopback socket, for the tests
// and the memory figures of the server's limits.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace speech_server::testing {

// A connected loopback TCP socket, or -1.
int ConnectTo(int port);

// Sends each piece after its pause, then returns everything the server writes back
// before it closes; with `half_close`, ends the sending side after the last piece.
struct Piece {
    std::chrono::milliseconds pause;
    std::string data;
};
std::string Exchange(int port, const std::vector<Piece>& pieces, bool half_close = false);

// `data` as one chunk of a chunked body.
std::string Chunk(const std::string& data);

// `head`, then `filler` again and again (with `pause` after each), until the server
// answers; `status` is the answer expected.
struct HostileUpload {
    const char* name;
    std::string head;
    std::string filler;
    std::chrono::milliseconds pause;
    int status;
};

// Everything the server wrote back, and how many filler bytes had been sent by then.
struct HostileOutcome {
    std::string answer;
    std::size_t sent = 0;
};

// The table of uploads that never end, one per way of framing a body, with the
// status the server answers each: junk after a delimiter (400), a part that never
// ends (413), a body that never ends (413), a length too large to send (413), a
// length that lies (408), headers that never end (431), a body sent slowly (408),
// a compressed body (415), a body without framing (411).
std::vector<HostileUpload> EndlessUploads();

// Sends until the server answers, `max_bytes` are sent or 20 s have passed.
HostileOutcome SendUntilAnswered(int port, const HostileUpload& upload, std::size_t max_bytes);

}  // namespace speech_server::testing
