/*
 * FakeHandshake: the packet's fields in the protocol's order: version, connection id,
 * the salt in two parts, the capabilities (all but TLS and compression) in two halves,
 * the character set, the status, the salt's length, reserved bytes, the plugin's name.
 */
#include "tests/support/FakeHandshake.h"

#include <cstdint>

static void put(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string fake_handshake(const std::string &plugin)
{
    const uint32_t capabilities = 0xFFFFFFFFu & ~(1u << 11) & ~(1u << 5);
    std::string body("\x0a" "5.5.5-10.11.99-MariaDB", 23);
    body += '\0';
    put(body, 7, 4);
    body += std::string("12345678") + '\0';
    put(body, capabilities & 0xFFFF, 2);
    body += '\x21';
    put(body, 2, 2);
    put(body, capabilities >> 16, 2);
    body += static_cast<char>(21);
    body += std::string(10, '\0');
    body += std::string("abcdefghijkl") + '\0' + plugin + '\0';
    std::string packet;
    put(packet, static_cast<uint32_t>(body.size()), 3);
    return packet + '\0' + body;
}
