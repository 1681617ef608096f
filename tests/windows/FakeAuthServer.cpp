/* FakeAuthServer: a stand-in database server on 127.0.0.1:3306, as any local user's
 * program can be while the database service is stopped: it answers one connection with a
 * first packet that asks for the login method "qvprobe", then ends. Prints "listening"
 * once it listens; exits 1 when it cannot. */
#include <winsock2.h>

#include <cstdio>

#include "tests/support/FakeHandshake.h"

int main()
{
    WSADATA data;
    SOCKET listener =
        WSAStartup(MAKEWORD(2, 2), &data) == 0 ? socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(3306);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0)
        return 1;
    printf("listening\n");
    fflush(stdout);
    SOCKET client = accept(listener, nullptr, nullptr);
    char answer[4096];
    if (client != INVALID_SOCKET &&
        send(client, QV_FAKE_HANDSHAKE, sizeof QV_FAKE_HANDSHAKE - 1, 0) > 0)
        recv(client, answer, sizeof answer, 0);
    closesocket(client);
    return 0;
}
