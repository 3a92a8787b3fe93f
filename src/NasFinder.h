#pragma once
// Client side of the device's UDP protocol: a table of the machine's IPv4
// interfaces and one operation per opcode.
//
// Calling order: FinderInit, one operation, FinderCleanup. Every caller opens
// and closes the table around its own requests; only one request sequence may
// use the table at a time.
//
// Sockets: Linux never hands multicast to a UDP socket bound to a unicast
// address, and a device in another subnet answers to 224.0.0.1. So the table
// keeps ONE socket bound to 0.0.0.0:26214 that has joined both groups on every
// interface; every datagram is sent with IP_PKTINFO naming the interface's
// address (and its adapter for multicast), and every received datagram's
// IP_PKTINFO tells on which interface entry it arrived: a unicast datagram
// belongs to the entry that owns its destination address, a multicast one to
// the entries of the adapter it came in on. A reply is then accepted on an
// entry only when its bytes 7-10 hold that entry's address. A request sent
// straight to a device takes its reply only from that device's address;
// datagrams longer than the operation's buffer are dropped, never cut.
#include <cstddef>
#include <cstdint>
#include <list>
#include <netinet/in.h>
#include <sys/types.h>

#include "NasInfo.h"

// Result codes.
enum : int {
    FINDER_OK = 0,
    FINDER_ERR_ALREADY_INIT = -1,
    FINDER_ERR_NOT_INIT = -2,
    FINDER_ERR_NO_INTERFACE = -3, // no usable interface, or none that reaches the device
    FINDER_ERR_SOCKET = -4,
    FINDER_ERR_TIMEOUT = -5,
    FINDER_ERR_REFUSED = -6,   // the device answered with status 1
    FINDER_ERR_TOO_LONG = -7,  // user or password text too long for one request
    FINDER_ERR_BAD_REPLY = -8, // a login reply whose community text does not decode
};

// Opcodes; a reply carries the request's opcode + 1.
enum : unsigned char {
    FINDER_OP_DISCOVER = 0,
    FINDER_OP_SET_NETWORK = 2,
    FINDER_OP_ADMIN_LOGIN = 4,
    FINDER_OP_PROGRESS = 6,
    FINDER_OP_STATUS = 8,
    FINDER_OP_USER_LOGIN = 10,
};

constexpr unsigned short FINDER_DEVICE_PORT = 26215; // requests go to it
constexpr unsigned short FINDER_LOCAL_PORT = 26214;  // replies come to it
constexpr const char* FINDER_GROUP_NAS = "239.255.9.10";
constexpr const char* FINDER_GROUP_ALL_HOSTS = "224.0.0.1";
constexpr int FINDER_MULTICAST_TTL = 30;

// The joined payload lines (interface address, user, password) may hold at
// most this many bytes; longer input is refused, never cut.
constexpr size_t FINDER_MAX_PAYLOAD_TEXT = 127;
// Room FinderBuildPayload needs: the Base64 of 127 bytes and a NUL.
constexpr size_t FINDER_PAYLOAD_BUFFER = 176;

// Longest discovery reply: 14 header bytes and a 255-byte name.
constexpr size_t FINDER_DISCOVER_BUFFER = 14 + 255;

// One row of the interface table.
struct FinderInterface {
    int socket;       // the table's receiving/sending socket (shared by all rows)
    uint32_t address; // network order
    uint32_t mask;    // network order
    uint32_t interfaceIndex;
};

int FinderInit();
void FinderCleanup();

// Opcode 0. mac null asks every device. Returns the number of records in out,
// FINDER_ERR_NOT_INIT or FINDER_ERR_SOCKET (out is empty after a failure).
int FinderDiscover(std::list<NasInfo>& out, int timeoutMs, const unsigned char* mac);
// Opcode 2. ip, mask and gateway in network order; all 0 asks for DHCP.
int FinderSetNetwork(const NasInfo* dev, unsigned ip, unsigned mask, unsigned gateway, const char* password,
                     int timeoutMs);
// Opcode 4 (administrator). community: 256 bytes, receives the decoded text;
// FINDER_ERR_BAD_REPLY (community untouched) when the device's text is not
// Base64.
int FinderQuery(const NasInfo* dev, const char* password, int timeoutMs, char* community);
// Opcode 10 (any user).
int FinderQuery2(const NasInfo* dev, const char* user, const char* password, int timeoutMs, char* community);
// Opcode 6: the status byte 0-255 with both values filled, or a negative code.
int FinderGetProgress(const NasInfo* dev, unsigned* value1, unsigned* value2, int timeoutMs);
// Opcode 8: the status byte 0-255, or a negative code.
int FinderPollStatus(const NasInfo* dev, int timeoutMs);

// Joins the dotted interface address and the texts with line feeds and writes
// their Base64 and a NUL into out (FINDER_PAYLOAD_BUFFER bytes). Returns the
// number of Base64 characters, or FINDER_ERR_TOO_LONG (out untouched) when the
// joined text exceeds FINDER_MAX_PAYLOAD_TEXT bytes. Null texts count as "".
int FinderBuildPayload(char* out, unsigned interfaceAddress, const char* text);
int FinderBuildPayload2(char* out, unsigned interfaceAddress, const char* text1, const char* text2);

// Reply parsing, apart from the sockets (the operations use these).
//
// Whether a datagram is a reply of that opcode accepted on the interface with
// address ifAddress (network order): long enough, right opcode, bytes 7-10
// equal ifAddress and, when mac is given, bytes 1-6 equal it.
bool FinderReplyMatches(const unsigned char* data, size_t len, unsigned char replyOp, size_t minimum,
                        uint32_t ifAddress, const unsigned char* mac);
// Fills MAC, disk states and name of a discovery reply (minimum 15 bytes);
// the name is bounded by the bytes received. False when the reply is too short.
bool FinderParseDiscoverReply(const unsigned char* data, size_t len, NasInfo& info);
// Replies 5 and 11: FINDER_ERR_REFUSED for status 1, else 0 with the decoded
// text in community (256 bytes), or FINDER_ERR_BAD_REPLY with community
// untouched when the text is not Base64.
int FinderParseLoginReply(const unsigned char* data, size_t len, char* community);
// Reply 7: the status byte with both big-endian values stored.
int FinderParseProgressReply(const unsigned char* data, size_t len, unsigned* value1, unsigned* value2);

// Datagrams on a UDP socket with IP_PKTINFO on (the table's, and the device
// emulator's).
struct FinderDatagram {
    ssize_t length = -1;      // -1: nothing could be received
    bool truncated = false;   // longer than the buffer: only its head is there
    bool havePktinfo = false; // destination and arrivalIndex came with it
    uint32_t source = 0;      // network order
    uint16_t sourcePort = 0;  // host order
    uint32_t destination = 0; // network order, from IP_PKTINFO
    int arrivalIndex = 0;     // adapter it came in on
};
// Receives one datagram that is waiting, without blocking.
FinderDatagram FinderReceive(int socket, unsigned char* buf, size_t size);
// Sends one datagram to destination:port (network order address, host order
// port); pktinfo, when given, names its source address and adapter. The
// number of bytes sent, or -1 (errno tells why).
ssize_t FinderSend(int socket, uint32_t destination, uint16_t port, const void* data, size_t len,
                   const in_pktinfo* pktinfo);

// The millisecond tick that measures waits: the program's clock, wrapping
// at 2^32.
uint32_t FinderTick();

// Test seam: copy of the current interface table (empty when not initialised).
std::list<FinderInterface> FinderGetInterfaces();
