/*
 * FakeHandshake: the first packet a MySQL server sends (protocol 10), asking the client
 * to log in with a login method of the test's choosing, for a stand-in server that
 * shows what the client does with a method it must not use.
 */
#ifndef TESTS_SUPPORT_FAKEHANDSHAKE_H
#define TESTS_SUPPORT_FAKEHANDSHAKE_H

#include <string>

/* The packet, framed (length and sequence number 0), of a MariaDB 10.11 server without
 * TLS that names plugin as its login method. */
std::string fake_handshake(const std::string &plugin);

#endif
