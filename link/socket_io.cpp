// What is made of the platform's socket calls alone, the same on every platform.
#include "link/socket_io.h"

namespace orv::net {

bool sendAll(SocketHandle s, const std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const long n = sendSome(s, data + done, length - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool receiveAll(SocketHandle s, std::uint8_t* data, std::size_t length)
{
    std::size_t got = 0;
    while (got < length) {
        const long n = receiveSome(s, data + got, length - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace orv::net
