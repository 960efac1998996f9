// The few socket calls that differ between POSIX and Windows sockets.
#pragma once

#include <httplib.h>

#include <string>

namespace speech_server {

// Makes a second server's bind to the same port fail, instead of sharing the port or
// taking it over.
void MakePortExclusive(socket_t sock);

// Shuts the socket down both ways and closes it.
void CloseSocket(socket_t sock);
// Sends a FIN after what was written; reading stays possible.
void ShutdownSending(socket_t sock);

// Waits up to `timeout_ms` until the socket can be read (or written): above zero when
// it can, zero on time-out, below zero on an error.
int WaitForSocket(socket_t sock, bool for_writing, int timeout_ms);

// Lets a write to a connection the peer has closed fail, instead of ending the process.
void IgnoreBrokenPipes();

// Forgets the last socket error, so that SocketErrorText tells a later one.
void ClearSocketError();
// Why the last socket call failed; empty when unknown.
std::string SocketErrorText();

}  // namespace speech_server
