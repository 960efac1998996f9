// What differs between POSIX and Windows sockets for the listening socket.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace speech_server {

// Makes a second server's bind to the same port fail, instead of sharing the port or
// taking it over. Call between open and bind.
void MakePortExclusive(boost::asio::ip::tcp::acceptor& acceptor);

}  // namespace speech_server
