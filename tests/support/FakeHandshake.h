/*
 * FakeHandshake: the first packet of a MySQL server (protocol 10), as a MariaDB 10.11
 * server without TLS that asks the client to log in with the method "qvprobe", for a
 * stand-in server that shows what a client does with a method it must not use. Its
 * fields: length and sequence number, protocol, version, connection id, salt (first
 * part), capabilities (low half), character set, status, capabilities (high half), salt
 * length, ten reserved bytes, salt (rest), the method's name.
 */
#ifndef TESTS_SUPPORT_FAKEHANDSHAKE_H
#define TESTS_SUPPORT_FAKEHANDSHAKE_H

static const char QV_FAKE_HANDSHAKE[] =
    "L\000\000\000\0125.5.5-10.11.99-MariaDB\000\007\000\000\00012345678\000\337\367!\002\000"
    "\377\377\025\000\000\000\000\000\000\000\000\000\000abcdefghijkl\000qvprobe\000";

#endif
