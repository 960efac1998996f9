#include "server/socket_platform.h"

namespace speech_server {

// On POSIX systems no two sockets listen on one port; SO_REUSEADDR only lets a
// restarted server bind while connections of the last one linger.
void MakePortExclusive(boost::asio::ip::tcp::acceptor& acceptor) {
    boost::system::error_code ignored;
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), ignored);
}

}  // namespace speech_server
