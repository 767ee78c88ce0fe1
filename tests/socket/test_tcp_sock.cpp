// The socket wrapper against a real loopback listener.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "common/log_capture.h"
#include "loopback_peer.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_tcp_sock/sock_error_text.h"

namespace {

// A loopback port that nobody listens on: bound, then released.
uint16_t unused_loopback_port()
{
    LoopbackPeer p;
    return p.port();
}

}  // namespace

TEST(TcpSock, SecondCreateIsRefusedAndKeepsTheConnection)
{
    LogCapture log;
    LoopbackPeer peer;
    c_tcp_sock s;
    EXPECT_EQ(s.startup(), 1);
    s.set_address("127.0.0.1", peer.port());
    ASSERT_EQ(s.create_sock(nullptr, 0, 2000), 1);
    ASSERT_TRUE(peer.accept_client());
    const int fd = s.get_handle();

    EXPECT_EQ(s.create_sock(nullptr, 0, 2000), -1);
    EXPECT_TRUE(log.contains("create_sock -1"));
    EXPECT_EQ(s.get_handle(), fd);

    const uint8_t msg[3] = {1, 2, 3};
    EXPECT_EQ(s.tcp_send(msg, 3), 1);
    EXPECT_EQ(peer.recv_bytes(3), (std::vector<uint8_t>{1, 2, 3}));

    // Nothing is sent for an empty or missing buffer.
    EXPECT_EQ(s.tcp_send(msg, 0), -1);
    EXPECT_EQ(s.tcp_send(nullptr, 3), -1);
    EXPECT_EQ(s.tcp_send(msg, -1), -1);
    EXPECT_TRUE(peer.recv_bytes(1, 200).empty());

    uint8_t in[8];
    EXPECT_EQ(s.tcp_recv(nullptr, 8, 0), -1);
    peer.send_bytes({9, 8});
    ASSERT_EQ(s.wait_readable(2000), 1);
    EXPECT_EQ(s.tcp_recv(in, 8, 0), 2);
    EXPECT_EQ(in[0], 9);
    EXPECT_EQ(s.cleanup(), 1);
}

TEST(TcpSock, CloseTwiceAndUseAfterClose)
{
    LoopbackPeer peer;
    c_tcp_sock s;
    ASSERT_TRUE(connect_client(s, peer));

    s.close();
    EXPECT_FALSE(s.is_open());
    EXPECT_EQ(s.get_handle(), -1);
    s.close();
    EXPECT_FALSE(s.is_open());
    EXPECT_TRUE(peer.wait_client_closed());

    const uint8_t b = 1;
    uint8_t in;
    EXPECT_EQ(s.tcp_send(&b, 1), -1);
    EXPECT_EQ(s.tcp_recv(&in, 1, 0), -1);
    EXPECT_EQ(s.wait_readable(0), -1);
}

TEST(TcpSock, CloseFromAnotherThreadEndsABlockedReceive)
{
    LoopbackPeer peer;
    c_tcp_sock s;
    ASSERT_TRUE(connect_client(s, peer));

    std::atomic<int> result{99};
    std::atomic<bool> entered{false};
    std::thread reader([&] {
        uint8_t buf[16];
        entered = true;
        result = s.tcp_recv(buf, sizeof buf, 0);  // nothing arrives: blocks
    });
    ASSERT_TRUE(wait_until([&] { return entered.load(); }));
    s.close();
    EXPECT_TRUE(wait_until([&] { return result.load() != 99; }));
    reader.join();
    EXPECT_LE(result.load(), 0);
}

TEST(TcpSock, SendToAClosedPeerFailsWithoutEndingTheProcess)
{
    LoopbackPeer peer;
    c_tcp_sock s;
    ASSERT_TRUE(connect_client(s, peer));
    peer.close_client();

    // The first sends may still be taken; once the reset is back, sending fails
    // (and no SIGPIPE ends the test process).
    std::vector<uint8_t> chunk(65536, 0x55);
    bool failed = wait_until([&] { return s.tcp_send(chunk.data(), static_cast<int>(chunk.size())) == -1; });
    EXPECT_TRUE(failed);
}

TEST(TcpSock, ConnectWithoutListenerLogsTheConnectErrorLines)
{
    LogCapture log;
    c_tcp_sock s;
    s.startup();
    s.set_address("127.0.0.1", unused_loopback_port());
    EXPECT_EQ(s.create_sock(nullptr, 0, 2000), -1);
    EXPECT_FALSE(s.is_open());
    EXPECT_TRUE(log.contains("connect error:-1"));
    EXPECT_TRUE(log.contains("c_tcp_sock::create_sock 3ErrorInfo:File:utils,Line:38,Function:connect errorCode " +
                             std::to_string(ECONNREFUSED) + ": "));
    EXPECT_EQ(s.runtime_error(), ECONNREFUSED);
}

TEST(TcpSock, AHostNameConnectsThroughEachOfItsAddresses)
{
    // "localhost" may give ::1 first, where nothing listens: the next
    // address is tried within the same time-out.
    LoopbackPeer peer;
    c_tcp_sock s;
    s.startup();
    s.set_address("localhost", peer.port());
    ASSERT_EQ(s.create_sock(nullptr, 0, 2000), 1);
    EXPECT_TRUE(peer.accept_client());
    EXPECT_EQ(s.remote_address(), htonl(INADDR_LOOPBACK));
    EXPECT_TRUE(s.resolve_error().empty());
}

TEST(TcpSock, ConnectTimesOutWhenTheListenerQueueIsFull)
{
    // Backlog 0 takes one pending connection; further SYNs are dropped, so a
    // connect stays pending until the time-out.
    LogCapture log;
    LoopbackPeer peer(0);
    c_tcp_sock first;
    first.startup();
    first.set_address("127.0.0.1", peer.port());
    ASSERT_EQ(first.create_sock(nullptr, 0, 2000), 1);

    c_tcp_sock s;
    s.startup();
    s.set_address("127.0.0.1", peer.port());
    EXPECT_EQ(s.create_sock(nullptr, 0, 300), -1);
    EXPECT_TRUE(log.contains("c_tcp_sock::create_sock 2"));
    EXPECT_FALSE(s.is_open());
}

TEST(TcpSock, BindToALocalPortLogsIt)
{
    LogCapture log;
    LoopbackPeer peer;
    const uint16_t local = unused_loopback_port();
    c_tcp_sock s;
    s.startup();
    s.set_address("127.0.0.1", peer.port());
    ASSERT_EQ(s.create_sock("127.0.0.1", local, 2000), 1);
    EXPECT_TRUE(log.contains("bind m_localPort:" + std::to_string(htons(local))));
}

TEST(TcpSock, ErrorTextFormatAndLengthLimit)
{
    std::wstring text;
    int code = 0;
    errno = ECONNREFUSED;
    EXPECT_EQ(sock_error_text(L"connect", true, text, &code), ECONNREFUSED);
    EXPECT_EQ(code, ECONNREFUSED);
    EXPECT_EQ(sock_error_text_local8(text),
              "ErrorInfo:File:utils,Line:38,Function:connect errorCode " + std::to_string(ECONNREFUSED) + ": " +
                  strerror(ECONNREFUSED));

    EXPECT_EQ(sock_error_text_local8(std::wstring(2047, L'x')).size(), 2047u);
    EXPECT_TRUE(sock_error_text_local8(std::wstring(2048, L'x')).empty());
}
