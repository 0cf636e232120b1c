// korvo-cli beside its peers, each figure in the same run as its peer:
//   - a connect, send 4 bytes, expect the answer, close exchange against an
//     echo peer, korvo-cli and socat, wall clock per process; --version;
//   - a 1 GiB flood from socat received with --quiet, and by socat into
//     /dev/null;
//   - the default transcript of a flood written to a file;
//   - serve's reply latency to a client that waits for each answer;
//   - over TLS, a flood received with --quiet and by openssl s_client;
//   - the peak resident memory of every korvo-cli run.
// Usage: harness_cli [MiB of each flood, default 1024] [folder for files, default /tmp]
#include "harness_support.h"

#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <cstring>
#include <vector>

extern char** environ;

namespace {

using namespace harness;

std::string g_cli;
long g_peakKiB = 0;

struct Run
{
    double seconds = 0;
    int exit = -1;
    long maxKiB = 0;
};

// The command's words as posix_spawnp takes them, valid while `command` lives.
std::vector<char*> Argv(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Runs the command with stdout into `out` (empty: /dev/null) and waits.
Run Spawn(const std::vector<std::string>& command, const std::string& out = {}, bool countMemory = false)
{
    std::vector<char*> argv = Argv(command);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    Run run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.maxKiB = usage.ru_maxrss;
    if (countMemory)
        g_peakKiB = std::max(g_peakKiB, run.maxKiB);
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// A child process that runs until stopped.
struct Child
{
    pid_t pid = -1;
    explicit Child(const std::vector<std::string>& command)
    {
        std::vector<char*> argv = Argv(command);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    long Stop(int signal = SIGTERM)
    {
        if (pid <= 0)
            return 0;
        ::kill(pid, signal);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        pid = -1;
        return usage.ru_maxrss;
    }
    ~Child() { Stop(); }
};

bool WaitListening(unsigned short port)
{
    for (int i = 0; i < 200; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

unsigned short FreePort()
{
    unsigned short port = 0;
    ::close(ListenOnLoopback(port));
    return port;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

void Exchange()
{
    const unsigned short port = FreePort();
    const std::string p = std::to_string(port);
    Child echo({"socat", "TCP-LISTEN:" + p + ",bind=127.0.0.1,reuseaddr,fork", "EXEC:cat"});
    WaitListening(port);
    std::vector<double> cli, socat, version;
    for (int round = 0; round < 20; ++round) {
        const Run k =
            Spawn({g_cli, "--quiet", "connect", "127.0.0.1", p, "send", "PING", "expect", "PING"}, {}, true);
        if (k.exit != 0)
            std::printf("  korvo-cli exchange failed: exit %d\n", k.exit);
        cli.push_back(k.seconds * 1000);
        const Run s = Spawn({"sh", "-c", "printf PING | socat - TCP:127.0.0.1:" + p});
        socat.push_back(s.seconds * 1000);
        version.push_back(Spawn({g_cli, "--version"}, {}, true).seconds * 1000);
    }
    // The shell that feeds socat is part of its exchange; time it alone.
    std::vector<double> shell;
    for (int round = 0; round < 20; ++round)
        shell.push_back(Spawn({"sh", "-c", "printf PING >/dev/null"}).seconds * 1000);
    const double socatOnly = Median(socat) - Median(shell);
    std::printf("exchange: korvo-cli %.2f ms median, socat %.2f ms (%.2f ms with its shell) = %.2f x; "
                "--version %.2f ms median\n",
                Median(cli), socatOnly, Median(socat), Median(cli) / socatOnly, Median(version));
}

void Flood(std::int64_t bytes, const std::string& folder)
{
    const std::string block = PatternBlock();
    // Loopback floods vary by a third from one run to the next here: five
    // rounds, the two in turn and each first every other round, compared by
    // their medians.
    std::vector<double> cliRates, socatRates;
    for (int round = 0; round < 5; ++round) {
        double cliRate = 0, socatRate = 0;
        for (int turn = 0; turn < 2; ++turn) {
            // The same peer for both, socat sending from /dev/zero.
            const unsigned short port = FreePort();
            Child sender({"socat", "-u", "-b", "65536", "OPEN:/dev/zero,readbytes=" + std::to_string(bytes),
                          "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr"});
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if ((turn == 0) == (round % 2 == 0)) {
                const Run k = Spawn({g_cli, "--quiet", "connect", "127.0.0.1", std::to_string(port),
                                     "expect-close", "within", "600000"},
                                    {}, true);
                cliRate = bytes / k.seconds / 1e6;
                if (k.exit != 0)
                    std::printf("  korvo-cli flood failed: exit %d\n", k.exit);
            } else {
                const Run s =
                    Spawn({"socat", "-b", "65536", "-u", "TCP:127.0.0.1:" + std::to_string(port), "-"});
                socatRate = bytes / s.seconds / 1e6;
            }
            sender.Stop();
        }
        cliRates.push_back(cliRate);
        socatRates.push_back(socatRate);
        std::printf("flood --quiet: korvo-cli %.0f MB/s, socat %.0f MB/s\n", cliRate, socatRate);
    }
    std::printf("flood --quiet: median korvo-cli %.0f MB/s, socat %.0f MB/s = %.1f %%\n", Median(cliRates),
                Median(socatRates), 100 * Median(cliRates) / Median(socatRates));
    const std::int64_t transcriptBytes = std::min<std::int64_t>(bytes, 256LL << 20);
    const std::string file = folder + "/korvo-cli-transcript.txt";
    for (int round = 0; round < 3; ++round) {
        // Each round into a new file, with the last round's on the disk:
        // neither its truncation nor its write-back is timed in this one.
        std::remove(file.c_str());
        Spawn({"sync"});
        LoopbackSender sender(block, transcriptBytes);
        const Run k = Spawn({g_cli, "connect", "127.0.0.1", std::to_string(sender.Port()), "expect-close",
                             "within", "600000"},
                            file, true);
        std::printf("transcript to %s: %.0f MB/s of received data (exit %d, %ld KiB peak)\n", file.c_str(),
                    transcriptBytes / k.seconds / 1e6, k.exit, k.maxKiB);
    }
    std::remove(file.c_str());
}

void Latency(const std::string& folder)
{
    const std::string rules = folder + "/korvo-cli-replies.json";
    {
        std::ofstream out(rules);
        out << R"({"kind": "replies", "version": 1, "rows": [{"enabled": true, "name": "req", "when": "contains",)"
            << R"( "pattern": "52 45 51 3F", "reply": "41 4E 53 21", "delay": 0}]})";
    }
    const unsigned short port = FreePort();
    Child server({g_cli, "--quiet", "--replies", rules, "listen", std::to_string(port), "serve"});
    WaitListening(port);
    // The probe above was the server's first peer; it takes the next.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::vector<double> rtt;
    int missing = 0;
    const int requests = 5000;
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i) {
        // 1,000 requests a second, each waiting for its answer.
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(1);
        const auto sent = std::chrono::steady_clock::now();
        // A number in each request, as a real client's, so that the runaway
        // guard knows it from a loop.
        char request[9];
        std::snprintf(request, sizeof request, "REQ?%04d", i % 10000);
        ::send(fd, request, 8, MSG_NOSIGNAL);
        char answer[4];
        std::size_t got = 0;
        while (got < 4) {
            const ssize_t n = ::recv(fd, answer + got, 4 - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got < 4 || std::memcmp(answer, "ANS!", 4) != 0) {
            ++missing;
            continue;
        }
        rtt.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
    }
    ::close(fd);
    const long kib = server.Stop();
    g_peakKiB = std::max(g_peakKiB, kib);
    std::printf("serve latency: median %.3f ms, p99 %.3f ms, max %.3f ms, %d of %d missing (%ld KiB peak)\n",
                Median(rtt), Percentile(rtt, 0.99), Percentile(rtt, 1.0), missing, requests, kib);
    std::remove(rules.c_str());
}

void TlsFlood(std::int64_t bytes, const std::string& folder)
{
    const std::string cert = folder + "/korvo-cli-bench.pem";
    const std::string key = folder + "/korvo-cli-bench.key";
    const std::string data = folder + "/korvo-cli-flood.bin";
    Spawn({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
           "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=localhost"});
    Spawn({"sh", "-c", "head -c " + std::to_string(bytes) + " /dev/urandom > " + data});
    for (int round = 0; round < 3; ++round) {
        double seconds[2] = {};
        long kib = 0;
        for (int who = 0; who < 2; ++who) {
            const unsigned short port = FreePort();
            const std::string p = std::to_string(port);
            Child server({"socat", "-b", "65536", "-u", "OPEN:" + data,
                          "OPENSSL-LISTEN:" + p + ",bind=127.0.0.1,reuseaddr,cert=" + cert + ",key=" + key +
                              ",verify=0"});
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const Run r =
                who == 0
                    ? Spawn({g_cli, "--quiet", "--tls", "--tls-insecure", "connect", "127.0.0.1", p,
                             "expect-close", "within", "600000"},
                            {}, false)
                    : Spawn({"sh", "-c",
                             "openssl s_client -quiet -connect 127.0.0.1:" + p + " </dev/null 2>/dev/null"});
            seconds[who] = r.seconds;
            if (who == 0)
                kib = r.maxKiB;
            server.Stop();
        }
        std::printf(
            "TLS flood --quiet: korvo-cli %.0f MB/s (%ld KiB peak), openssl s_client %.0f MB/s = %.1f %%\n",
            bytes / seconds[0] / 1e6, kib, bytes / seconds[1] / 1e6, 100 * seconds[1] / seconds[0]);
    }
    std::remove(data.c_str());
    std::remove(cert.c_str());
    std::remove(key.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    g_cli = std::string(KORVO_BINARY_DIR) + "/bin/korvo-cli";
    signal(SIGPIPE, SIG_IGN);
    Exchange();
    Flood(mib << 20, folder);
    Latency(folder);
    TlsFlood(std::min<std::int64_t>(mib, 1024) << 20, folder);
    std::printf("korvo-cli peak resident memory over the runs above but TLS: %.1f MiB (%.1f MB)\n",
                g_peakKiB / 1024.0, g_peakKiB * 1024 / 1e6);
    return 0;
}
