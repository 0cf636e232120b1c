// TLS sessions of the main window against real peers on loopback: data both
// ways byte for byte, verification, client certificates, versions, peers
// that fail the handshake, and captures of it all.
#include "interop/tls_peers.h"
#include "network/capture_fixture.h"
#include "network/telnet_window.h"

#include "panes/hex_edit.h"
#include "tls/tls_dlg.h"
#include "platform/profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <sys/socket.h>

#include <cstring>
#include <functional>

using namespace korvo::test;
using std::chrono::seconds;

namespace {

// Everything the additions see of the session.
class RecordingTap : public SessionTap
{
public:
    void OnSessionOpened(const SessionInfo&, const TapTime&) override { ++opened; }
    void OnBytesReceived(const std::uint8_t* data, int length, const sockaddr*, const TapTime&) override
    {
        received.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    }
    void OnBytesSent(const std::uint8_t* data, int length, const sockaddr*, const TapTime&) override
    {
        sent.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    }

    int opened = 0;
    std::string received, sent;
};

class TlsSession : public CaptureTest
{
protected:
    void SetUp() override
    {
        // The settings are kept where the program keeps them.
        Profile::SetRegistryKey(QStringLiteral("MerrowSystems"));
        CaptureTest::SetUp();
        dlg->m_taps.Add(&tap);
        dlg->m_actTls->trigger();
        tls = dlg->m_pTlsDlg.get();
        ASSERT_TRUE(tls);
        tls->m_checkUse->setChecked(true);
        tls->m_nHandshakeTimeoutMs = 2000;
    }
    void TearDown() override
    {
        dlg->m_taps.Remove(&tap);
        peer.Stop();
        CaptureTest::TearDown();
    }
    void UseCaFile(const QString& path)
    {
        tls->m_checkVerify->setChecked(true);
        tls->m_radioCaFile->setChecked(true);
        tls->m_editCaFile->setText(path);
    }
    void ConnectTo(unsigned short port, const char* host = "127.0.0.1")
    {
        SetMode(MODE_TCP_CLIENT);
        SetFields(QString::fromLatin1(host), port, 1470);
        Click(IDC_BUTTON_CONNECT);
    }
    unsigned short Listen()
    {
        SetMode(MODE_TCP_SERVER);
        const unsigned short port = FreePort();
        SetFields(QString(), 1470, port);
        Click(IDC_BUTTON_CONNECT);
        EXPECT_EQ(STATE_LISTENING, dlg->m_nState);
        return port;
    }
    // The session ended with one message: returns it.
    std::string FailedWith()
    {
        EXPECT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }, seconds(10)));
        EXPECT_EQ(1u, boxes.shown.size());
        return boxes.LastText().toStdString();
    }
    bool Saw(const QString& status) const
    {
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }
    // A shell script for a peer to run, in the test's folder.
    QString Script(const char* name, const char* text)
    {
        QFile file(Path(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }
    void SendPane(const std::string& bytes)
    {
        dlg->m_hexSend->SetData(static_cast<int>(bytes.size()), bytes.data());
        Click(IDC_BUTTON_SEND);
    }

    TlsFiles files;
    PeerProcess peer;
    RecordingTap tap;
    CTlsDlg* tls = nullptr;
};

// Several MiB from the peer and a full pane to it, as client and as server;
// the peer hangs up with close_notify once it has all, a plain close.
TEST_F(TlsSession, BothWaysByteForByteAsClientAndServer)
{
    const std::string fromPeer = Pattern(5 << 20, 7), fromKorvo = Pattern(1 << 20, 11);
    QFile source(Path(QStringLiteral("from-peer.bin")));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write(fromPeer.data(), static_cast<qint64>(fromPeer.size()));
    source.close();
    const QString script = QStringLiteral("SYSTEM:cat %1; head -c %2 > %3")
                               .arg(source.fileName())
                               .arg(fromKorvo.size())
                               .arg(Path(QStringLiteral("at-peer.bin")));
    for (const bool server : {false, true}) {
        SCOPED_TRACE(server ? "server" : "client");
        tap.received.clear();
        QFile::remove(Path(QStringLiteral("at-peer.bin")));
        if (server) {
            // A server with a CA file would ask for a client certificate.
            tls->m_radioSystemCa->setChecked(true);
            const unsigned short port = Listen();
            peer.Start(QStringLiteral("socat"),
                       {QStringLiteral("OPENSSL:127.0.0.1:%1,verify=0").arg(port), script});
            ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }))
                << peer.process.readAllStandardError().toStdString() << boxes.LastText().toStdString();
        } else {
            const unsigned short port = FreePort();
            peer.Serve(QStringLiteral("socat"), SocatServer(files, "server", port, script), port);
            UseCaFile(files.Pem("ca"));
            ConnectTo(port);
            ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
        }
        SendPane(fromKorvo);
        ASSERT_TRUE(peer.Finished(seconds(30)));
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == (server ? STATE_PEER_CLOSED : STATE_READY); }));
        EXPECT_TRUE(tap.received == fromPeer) << tap.received.size();
        QFile atPeer(Path(QStringLiteral("at-peer.bin")));
        ASSERT_TRUE(atPeer.open(QIODevice::ReadOnly));
        EXPECT_TRUE(atPeer.readAll().toStdString() == fromKorvo);
        EXPECT_EQ(std::int64_t(fromPeer.size()), dlg->m_nRecvTotal);
        dlg->m_nRecvTotal = 0;
        Click(IDC_BUTTON_CLOSE);
    }
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
}

// The peer's certificate is checked as the user chose; a refusal names the
// reason and the certificate's fingerprint, and the session is Ready again
// without ever having been Connected.
TEST_F(TlsSession, VerificationAsChosen)
{
    const unsigned short port = FreePort();
    peer.Serve(QStringLiteral("openssl"), SServer(files, "self", port), port);
    const QString selfPrint = files.Fingerprint("self");
    const struct
    {
        const char* name;
        bool verify;
        const char* caFile; // nullptr: the system's
        const char* serverName;
        QString refusal; // empty: accepted
    } cases[] = {
        {"system CAs", true, nullptr, "",
         "certificate verify failed: self-signed certificate\nSHA-256 fingerprint of the peer's "
         "certificate: " +
             selfPrint},
        {"its own CA", true, "self", "", {}},
        {"its own CA, another name", true, "self", "device.example",
         "certificate verify failed: the certificate is not for device.example\nSHA-256 fingerprint of the "
         "peer's certificate: " +
             selfPrint},
        {"not verified", false, nullptr, "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        statuses.clear();
        tls->m_checkVerify->setChecked(c.verify);
        if (c.caFile)
            UseCaFile(files.Pem(c.caFile));
        else
            tls->m_radioSystemCa->setChecked(true);
        tls->m_editServerName->setText(QString::fromLatin1(c.serverName));
        ConnectTo(port);
        if (c.refusal.isEmpty()) {
            ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
            EXPECT_EQ(QStringLiteral("TLS 1.3"), tls->m_editVersion->text());
            EXPECT_EQ(selfPrint, tls->m_editFingerprint->text());
            EXPECT_EQ(QStringLiteral("CN=localhost"), tls->m_editSubject->text());
            Click(IDC_BUTTON_CLOSE);
        } else {
            EXPECT_EQ(c.refusal.toStdString(), FailedWith());
            EXPECT_EQ(STATE_READY, dlg->m_nState);
            EXPECT_FALSE(Saw(QStringLiteral("Connected")));
        }
    }
}

// A server that requires a client certificate gets one; a server that
// requires one of the client refuses a client without.
TEST_F(TlsSession, ClientCertificates)
{
    {
        SCOPED_TRACE("korvo as the client");
        const unsigned short port = FreePort();
        peer.Serve(QStringLiteral("openssl"),
                   SServer(files, "server", port,
                           {QStringLiteral("-Verify"), QStringLiteral("1"), QStringLiteral("-CAfile"),
                            files.Pem("ca"), QStringLiteral("-verify_return_error")}),
                   port);
        UseCaFile(files.Pem("ca"));
        tls->m_editClientCertFile->setText(files.Pem("client"));
        tls->m_editClientKeyFile->setText(files.Key("client"));
        ConnectTo(port);
        ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
        SendPane("through mutual TLS\n");
        EXPECT_TRUE(WaitUntil([&] { return peer.Output().contains("through mutual TLS\n"); }));
        Click(IDC_BUTTON_CLOSE);
        peer.Stop();
    }
    {
        SCOPED_TRACE("korvo as the server");
        UseCaFile(files.Pem("ca"));
        const unsigned short port = Listen();
        // Without a certificate first: refused and told, and the server
        // goes on listening for the next client.
        PeerProcess bare;
        bare.Start(QStringLiteral("openssl"),
                   {QStringLiteral("s_client"), QStringLiteral("-connect"),
                    QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-quiet")});
        EXPECT_EQ("the peer sent no certificate, and one is required", FailedWith());
        EXPECT_EQ(STATE_LISTENING, dlg->m_nState);
        peer.Start(QStringLiteral("openssl"),
                   {QStringLiteral("s_client"), QStringLiteral("-connect"),
                    QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-quiet"),
                    QStringLiteral("-cert"), files.Pem("client"), QStringLiteral("-key"),
                    files.Key("client")});
        ASSERT_TRUE(WaitUntil([&] { return dlg->m_nState == STATE_PEER_CONNECTED; }, seconds(10)));
        EXPECT_EQ(QStringLiteral("CN=Korvo Test Client"), tls->m_editSubject->text());
        EXPECT_FALSE(tls->m_editOwnFingerprint->text().isEmpty());
    }
}

// Versions without a common one fail with "wrong version", whichever side
// asks for the newer; a server goes on listening.
TEST_F(TlsSession, NoCommonVersion)
{
    tls->m_checkVerify->setChecked(false);
    tls->m_comboMinVersion->setCurrentIndex(1); // TLS 1.3 at least
    const QString wrong = QStringLiteral(
        "wrong version: the peer and this side have no TLS version in common (this side accepts "
        "TLS 1.3 or later)");
    {
        SCOPED_TRACE("client");
        const unsigned short port = FreePort();
        peer.Serve(QStringLiteral("openssl"), SServer(files, "server", port, {QStringLiteral("-tls1_2")}),
                   port);
        ConnectTo(port);
        EXPECT_EQ(wrong.toStdString(), FailedWith());
        EXPECT_TRUE(WaitStatus(QStringLiteral("Ready")));
        peer.Stop();
    }
    {
        SCOPED_TRACE("server");
        boxes.shown.clear();
        const unsigned short port = Listen();
        peer.Start(QStringLiteral("openssl"), {QStringLiteral("s_client"), QStringLiteral("-connect"),
                                               QStringLiteral("127.0.0.1:%1").arg(port),
                                               QStringLiteral("-quiet"), QStringLiteral("-tls1_2")});
        EXPECT_EQ(wrong.toStdString(), FailedWith());
        EXPECT_EQ(STATE_LISTENING, dlg->m_nState);
    }
}

// A peer that hangs up in the middle of the handshake, and one that never
// answers: one message each, in bounded time, and Ready again.
TEST_F(TlsSession, PeersThatFailTheHandshake)
{
    tls->m_checkVerify->setChecked(false);
    tls->m_nHandshakeTimeoutMs = 300;
    {
        SCOPED_TRACE("closes after the client's hello");
        Fd listener = Listener();
        ConnectTo(LocalPort(listener.get()));
        Fd accepted(::accept(listener.get(), nullptr, nullptr));
        std::string hello;
        ASSERT_TRUE(WaitUntil([&] {
            ReadSome(accepted.get(), &hello);
            return !hello.empty();
        }));
        accepted.reset();
        EXPECT_EQ("the peer closed the connection during the TLS handshake", FailedWith());
        EXPECT_TRUE(WaitStatus(QStringLiteral("Ready")));
    }
    {
        SCOPED_TRACE("never answers");
        boxes.shown.clear();
        statuses.clear();
        Fd listener = Listener(); // the system completes the connection; nobody reads
        ConnectTo(LocalPort(listener.get()));
        EXPECT_EQ("the peer did not complete the TLS handshake within 1 seconds", FailedWith());
        EXPECT_TRUE(WaitStatus(QStringLiteral("Ready")));
        EXPECT_EQ((std::vector<QString>{"Connecting", "Ready"}), statuses);
    }
    {
        SCOPED_TRACE("a silent client of the server");
        boxes.shown.clear();
        const unsigned short port = Listen();
        Fd silent = korvo::test::ConnectTo(AF_INET, port);
        EXPECT_EQ("the peer did not complete the TLS handshake within 1 seconds", FailedWith());
        // The next client is served (see ClientCertificates).
        EXPECT_EQ(STATE_LISTENING, dlg->m_nState);
    }
}

// The capture holds the plaintext as the TCP stream between the real
// endpoints, which tshark follows; with the key log beside it, tshark
// decrypts a capture of the real traffic taken at the same time.
TEST_F(TlsSession, CaptureAndKeyLog)
{
    const QString keyLog = Path(QStringLiteral("keys.log"));
    qputenv("SSLKEYLOGFILE", keyLog.toLocal8Bit());
    const unsigned short port = FreePort();
    peer.Serve(
        QStringLiteral("socat"),
        SocatServer(files, "server", port,
                    QStringLiteral("EXEC:sh %1")
                        .arg(Script("server.sh",
                                    "printf 'HTTP/1.0 200 OK\\r\\n\\r\\nhello'; head -c 18 >/dev/null"))),
        port);
    // The real traffic, and datagrams to a port of our own that show when
    // the capture has begun (dumpcap says so a little early).
    PeerProcess wire;
    const unsigned short probePort = FreePort(SOCK_DGRAM);
    wire.Start(QStringLiteral("dumpcap"),
               {QStringLiteral("-q"), QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"),
                QStringLiteral("tcp port %1 or udp port %2").arg(port).arg(probePort), QStringLiteral("-w"),
                QStringLiteral("-")});
    Fd probe(::socket(AF_INET, SOCK_DGRAM, 0));
    socklen_t probeLength;
    const sockaddr_storage probeTo = Loopback(AF_INET, probePort, &probeLength);
    // Packets are written in the order they came: once a marker is in the
    // capture, so is everything before it.
    const auto mark = [&](const char* marker) {
        return WaitUntil(
            [&] {
                ::sendto(probe.get(), marker, std::strlen(marker), 0,
                         reinterpret_cast<const sockaddr*>(&probeTo), probeLength);
                return wire.Output().contains(marker);
            },
            seconds(10));
    };
    if (!mark("capture-begins"))
        GTEST_SKIP() << "dumpcap cannot capture here: " << wire.process.readAllStandardError().toStdString();

    StartCapture(Path(QStringLiteral("plain.pcap")));
    UseCaFile(files.Pem("ca"));
    ConnectTo(port);
    ASSERT_TRUE(WaitStatus(QStringLiteral("Connected")));
    SendPane("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(WaitStatus(QStringLiteral("Ready")));
    StopCapture();
    ASSERT_TRUE(mark("capture-ends"));
    wire.Stop();
    qunsetenv("SSLKEYLOGFILE");
    const QString wirePath = Path(QStringLiteral("wire.pcapng"));
    QFile wireFile(wirePath);
    ASSERT_TRUE(wireFile.open(QIODevice::WriteOnly));
    wireFile.write(wire.Output());
    wireFile.close();

    const auto [request, response] = FollowFirstStream(Path(QStringLiteral("plain.pcap")));
    EXPECT_EQ("GET / HTTP/1.0\r\n\r\n", request);
    EXPECT_EQ("HTTP/1.0 200 OK\r\n\r\nhello", response);
    // The protocol's own dissector reads the plaintext.
    const QString http = Tshark(Path(QStringLiteral("plain.pcap")),
                                {QStringLiteral("-d"), QStringLiteral("tcp.port==%1,http").arg(port),
                                 QStringLiteral("-Y"), QStringLiteral("http.response.code == 200")});
    EXPECT_TRUE(http.contains(QLatin1String("200 OK"))) << http.toStdString();

    QFile keys(keyLog);
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    EXPECT_TRUE(keys.readAll().contains("CLIENT_TRAFFIC_SECRET_0 "));
    const QStringList asTls{QStringLiteral("-d"), QStringLiteral("tcp.port==%1,tls").arg(port)};
    const QString decrypted = Tshark(
        wirePath, asTls + QStringList{QStringLiteral("-o"), QStringLiteral("tls.keylog_file:") + keyLog,
                                      QStringLiteral("-qz"), QStringLiteral("follow,tls,ascii,0")});
    EXPECT_TRUE(decrypted.contains(QLatin1String("GET / HTTP/1.0"))) << decrypted.toStdString();
    EXPECT_TRUE(decrypted.contains(QLatin1String("hello"))) << decrypted.toStdString();
    const QString sealed =
        Tshark(wirePath, asTls + QStringList{QStringLiteral("-qz"), QStringLiteral("follow,tls,ascii,0")});
    EXPECT_FALSE(sealed.contains(QLatin1String("GET / HTTP/1.0")));
}

// The Telnet window speaks through TLS when the switch is on.
TEST_F(TlsSession, TelnetOverTls)
{
    tls->m_checkVerify->setChecked(false);
    const unsigned short port = FreePort();
    peer.Serve(
        QStringLiteral("socat"),
        SocatServer(files, "self", port,
                    QStringLiteral("EXEC:sh %1").arg(Script("telnet.sh", "printf 'login: '; sleep 5"))),
        port);
    SetFields(QStringLiteral("127.0.0.1"), port, 1470);
    Click(IDC_BUTTON_TELNET);
    const bool ran = WhileTelnetOpen(*dlg, [&](CTelDlg& tel) {
        ASSERT_TRUE(WaitUntil([&] { return Shown(tel).contains(QStringLiteral("login: ")); }));
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.LastText().toStdString();
}

// Files that cannot be used stop CONNECT and Listen with one message naming
// the file; nothing is left connecting or listening.
TEST_F(TlsSession, UnusableFilesStopTheSession)
{
    const QString missing = Path(QStringLiteral("missing.pem"));
    const QString notAKey = files.Pem("ca"); // a certificate where the key should be
    const struct
    {
        const char* name;
        bool server;
        std::function<void()> choose;
        QString named;
        const char* why;
    } cases[] = {
        {"server certificate", true,
         [&] {
             tls->m_radioCertFiles->setChecked(true);
             tls->m_editCertFile->setText(missing);
         },
         missing, "No such file or directory"},
        {"server key", true,
         [&] {
             tls->m_radioCertFiles->setChecked(true);
             tls->m_editCertFile->setText(files.Pem("server"));
             tls->m_editKeyFile->setText(notAKey);
         },
         notAKey, "the file holds no private key"},
        {"CA file", false, [&] { UseCaFile(missing); }, missing, "No such file or directory"},
        {"client certificate", false,
         [&] {
             tls->m_radioSystemCa->setChecked(true);
             tls->m_editClientCertFile->setText(files.Pem("client"));
             tls->m_editClientKeyFile->setText(files.Key("server"));
         },
         files.Key("server"), "key values mismatch"},
    };
    Fd listener = Listener();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        c.choose();
        if (c.server) {
            SetMode(MODE_TCP_SERVER);
            const unsigned short port = FreePort();
            SetFields(QString(), 1470, port);
            Click(IDC_BUTTON_CONNECT);
            EXPECT_FALSE(Listening(port));
        } else {
            ConnectTo(LocalPort(listener.get()));
        }
        EXPECT_EQ(QStringLiteral("Cannot use %1: %2").arg(c.named, QLatin1String(c.why)).toStdString(),
                  FailedWith());
        EXPECT_EQ(STATE_READY, dlg->m_nState);
        EXPECT_FALSE(dlg->m_sock.IsOpen() || dlg->m_sockListen.IsOpen());
    }
}

// The title says TLS while the switch is on; the switch is off at every start
// while the rest is kept.
TEST_F(TlsSession, SwitchAndSettings)
{
    EXPECT_TRUE(dlg->windowTitle().endsWith(QLatin1String(" - TLS")));
    tls->m_comboMinVersion->setCurrentIndex(1);
    tls->m_editServerName->setText(QStringLiteral("device.example"));
    UseCaFile(files.Pem("ca"));
    tls->m_checkUse->setChecked(false);
    EXPECT_EQ(dlg->m_strTitle, dlg->windowTitle());

    const TlsSettings kept = LoadTlsSettings();
    EXPECT_EQ(TlsMinVersion::Tls13, kept.minVersion);
    EXPECT_EQ(QStringLiteral("device.example"), kept.serverName);
    EXPECT_TRUE(kept.UsesCaFile());
    CKorvoDlg again;
    ASSERT_TRUE(again.Create());
    again.m_actTls->trigger();
    again.m_pTlsDlg->m_nHandshakeTimeoutMs = tls->m_nHandshakeTimeoutMs;
    EXPECT_FALSE(again.m_pTlsDlg->m_checkUse->isChecked());
    EXPECT_TRUE(again.m_pTlsDlg->Settings() == tls->Settings());
}

} // namespace
