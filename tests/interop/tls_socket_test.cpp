// The TLS layer of CAsyncSocket against real peers: receive events while
// decrypted bytes wait inside TLS with the socket empty, and how the peer's
// end is reported.
#include "interop/tls_peers.h"

#include "platform/async_socket.h"
#include "tls/tls_context.h"
#include "tls/tls_error.h"
#include "tls/tls_stream.h"

#include <string>

using namespace korvo::test;
using std::chrono::seconds;

namespace {

class TlsClient : public CAsyncSocket
{
public:
    std::string received;
    int connectError = -1;
    int closeError = -1;
    // Bytes taken per receive event; 0 takes none (holds receiving).
    int take = 4096;

protected:
    void OnConnect(int error) override { connectError = error; }
    void OnReceive(int) override
    {
        if (take == 0)
            return;
        char buffer[4096];
        const int n = Receive(buffer, std::min<int>(take, sizeof buffer));
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    }
    void OnClose(int error) override { closeError = error; }
};

class TlsSocket : public testing::Test
{
protected:
    void Connect(TlsClient& client, unsigned short port)
    {
        TlsSettings settings;
        settings.verify = false;
        QString error;
        const auto context = TlsContext::Create(settings, TlsRole::Client, &error);
        ASSERT_TRUE(context) << error.toStdString();
        ASSERT_TRUE(client.Create());
        client.UseTls(context, QStringLiteral("localhost"));
        socklen_t length;
        const sockaddr_storage to = Loopback(AF_INET, port, &length);
        client.Connect(reinterpret_cast<const sockaddr*>(&to), length);
        ASSERT_TRUE(WaitUntil([&] { return client.connectError != -1; }, seconds(10)));
        ASSERT_EQ(0, client.connectError) << TlsFailureText(client.connectError).toStdString();
    }
    // socat as a TLS server running the shell script for its client.
    unsigned short ServeScript(const char* script)
    {
        const unsigned short port = FreePort();
        QFile file(dir.filePath(QStringLiteral("peer.sh")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script);
        file.close();
        peer.Serve(QStringLiteral("socat"),
                   SocatServer(files, "self", port, QStringLiteral("EXEC:sh %1").arg(file.fileName())), port);
        return port;
    }

    TlsFiles files;
    QTemporaryDir dir;
    PeerProcess peer;
};

// All of it arrives in few records and then the peer is silent: a handler
// that holds receiving, then takes a little per event, still gets every
// byte, though the socket has nothing more to report.
TEST_F(TlsSocket, BytesWaitingInsideTlsAreDelivered)
{
    const unsigned short port = ServeScript("head -c 60000 /dev/zero | tr '\\0' 'k'; sleep 20");
    TlsClient client;
    client.take = 0;
    Connect(client, port);
    // Held: the first record is read and waits.
    ASSERT_TRUE(WaitUntil([&] { return client.Tls() && client.Tls()->Buffered() > 0; }));
    DrainEvents();
    EXPECT_TRUE(client.received.empty());
    client.take = 100;
    client.ResumeReceive();
    EXPECT_TRUE(WaitUntil([&] { return client.received.size() == 60000; }, seconds(10)))
        << client.received.size();
    EXPECT_EQ(std::string(60000, 'k'), client.received);
    EXPECT_EQ(-1, client.closeError);
}

// close_notify ends the stream as a close does; an end without it (the peer
// killed) as a reset.
TEST_F(TlsSocket, PeerEndsWithAndWithoutCloseNotify)
{
    {
        SCOPED_TRACE("close_notify");
        const unsigned short port = ServeScript("printf bye");
        TlsClient client;
        Connect(client, port);
        ASSERT_TRUE(WaitUntil([&] { return client.closeError != -1; }, seconds(10)));
        EXPECT_EQ(0, client.closeError);
        EXPECT_EQ("bye", client.received);
        peer.Stop();
    }
    {
        SCOPED_TRACE("cut off");
        const unsigned short port = FreePort();
        peer.Serve(QStringLiteral("openssl"), SServer(files, "self", port), port, false);
        TlsClient client;
        Connect(client, port);
        DrainEvents();
        peer.process.kill();
        ASSERT_TRUE(WaitUntil([&] { return client.closeError != -1; }, seconds(10)));
        EXPECT_EQ(ECONNRESET, client.closeError);
    }
}

} // namespace
