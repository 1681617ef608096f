/*
 * FakeAuthServer: a stand-in database server for the Windows end-to-end tests. On
 * 127.0.0.1:3306 it answers each connection with a first packet that asks the client to
 * log in with the method named on its command line, as any local user's program can
 * while the database service is stopped, then closes it; it ends after COUNT
 * connections.
 *
 *     qv_fake_auth_server.exe METHOD COUNT
 *
 * Prints "listening" once it listens; exits 1 when it cannot.
 */
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/FakeHandshake.h"

int main(int argc, char **argv)
{
    WSADATA data;
    if (argc != 3 || WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(3306);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0) {
        fprintf(stderr, "qv_fake_auth_server: cannot listen on 127.0.0.1:3306\n");
        return 1;
    }
    printf("listening\n");
    fflush(stdout);
    const std::string packet = fake_handshake(argv[1]);
    for (int i = atoi(argv[2]); i > 0; i--) {
        SOCKET client = accept(listener, nullptr, nullptr);
        char answer[4096];
        if (client == INVALID_SOCKET)
            return 1;
        if (send(client, packet.data(), static_cast<int>(packet.size()), 0) > 0)
            recv(client, answer, sizeof answer, 0);
        closesocket(client);
    }
    closesocket(listener);
    return 0;
}
