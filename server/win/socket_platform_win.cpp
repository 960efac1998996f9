#include "server/socket_platform.h"

#include <winsock2.h>

namespace speech_server {
namespace {

// SO_EXCLUSIVEADDRUSE as a socket option of the engine's public kind.
class ExclusiveAddressUse {
public:
    template <typename Protocol>
    int level(const Protocol&) const { return SOL_SOCKET; }
    template <typename Protocol>
    int name(const Protocol&) const { return SO_EXCLUSIVEADDRUSE; }
    template <typename Protocol>
    const void* data(const Protocol&) const { return &value_; }
    template <typename Protocol>
    std::size_t size(const Protocol&) const { return sizeof value_; }

private:
    BOOL value_ = TRUE;
};

}  // namespace

// SO_REUSEADDR would let another socket take the port over on Windows; exclusive use
// is the rule that a second server must fail.
void MakePortExclusive(boost::asio::ip::tcp::acceptor& acceptor) {
    boost::system::error_code ignored;
    acceptor.set_option(ExclusiveAddressUse{}, ignored);
}

}  // namespace speech_server
