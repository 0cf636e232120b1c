#pragma once

// Socket addresses from their text, for tests that hand addresses to the
// code under test: "127.0.0.1", "::1", "fe80::1%lo" (with its scope).
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

namespace korvo::test {

inline sockaddr_storage Address(const char* ip, unsigned short port)
{
    sockaddr_storage a{};
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(ip, std::to_string(port).c_str(), &hints, &list) == 0 && list) {
        std::memcpy(&a, list->ai_addr, list->ai_addrlen);
        freeaddrinfo(list);
    }
    return a;
}

inline const sockaddr* Sa(const sockaddr_storage& a)
{
    return reinterpret_cast<const sockaddr*>(&a);
}

} // namespace korvo::test
