#pragma once

// Captures through the real main dialog: Start and Stop from its window
// menu, the file chosen through the file dialog's seam, and the file read
// back with libpcap or with tshark.
#include "network/session_fixture.h"

#include "support/file_dialogs.h"

#include <QAction>
#include <QProcess>
#include <QTemporaryDir>

#include <pcap/pcap.h>

#include <string>
#include <vector>

namespace korvo::test {

struct PcapContents
{
    bool opened = false;
    // Every record whole, up to the end of the file.
    bool whole = false;
    int linkType = -1;
    std::vector<std::string> packets;
};

// Reads a capture with libpcap, from a file or from bytes.
inline PcapContents ReadPcap(FILE* stream)
{
    PcapContents contents;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* pcap = stream
                       ? pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, error)
                       : nullptr;
    if (!pcap) {
        if (stream)
            std::fclose(stream);
        return contents;
    }
    contents.opened = true;
    contents.linkType = pcap_datalink(pcap);
    pcap_pkthdr* header;
    const u_char* data;
    int rc;
    while ((rc = pcap_next_ex(pcap, &header, &data)) == 1)
        contents.packets.emplace_back(reinterpret_cast<const char*>(data), header->caplen);
    contents.whole = rc == PCAP_ERROR_BREAK;
    pcap_close(pcap);
    return contents;
}

inline PcapContents ReadPcap(const QString& path)
{
    return ReadPcap(std::fopen(QFile::encodeName(path).constData(), "rb"));
}

// tshark's output for the file; fails the test if tshark does.
inline QString Tshark(const QString& path, const QStringList& arguments)
{
    QProcess tshark;
    tshark.start(QStringLiteral("timeout"),
                 QStringList{QStringLiteral("60"), QStringLiteral("tshark"), QStringLiteral("-r"), path} +
                     arguments);
    const bool finished = tshark.waitForFinished(70000);
    const QString errors = QString::fromLocal8Bit(tshark.readAllStandardError());
    EXPECT_TRUE(finished && tshark.exitStatus() == QProcess::NormalExit && tshark.exitCode() == 0)
        << errors.toStdString();
    return QString::fromLocal8Bit(tshark.readAllStandardOutput());
}

// tshark's "follow" of the first TCP stream: what each end sent, the end
// that connected first.
inline std::pair<std::string, std::string> FollowFirstStream(const QString& path)
{
    const QString text = Tshark(path, {QStringLiteral("-qz"), QStringLiteral("follow,tcp,raw,0")});
    std::pair<std::string, std::string> sides;
    bool inData = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Node 1:"))) {
            inData = true;
            continue;
        }
        if (!inData || line.startsWith(QLatin1String("====")))
            continue;
        std::string& side = line.startsWith(QLatin1Char('\t')) ? sides.second : sides.first;
        side += QByteArray::fromHex(line.trimmed().toLatin1()).toStdString();
    }
    return sides;
}

class CaptureTest : public SessionTest
{
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    void StartCapture(const QString& path, int filterIndex = 1)
    {
        files.Choose(path, filterIndex);
        dlg->m_actCaptureStart->trigger();
    }
    void StopCapture() { dlg->m_actCaptureStop->trigger(); }
    bool Capturing() const
    {
        return dlg->m_actCaptureStop->isEnabled() && !dlg->m_actCaptureStart->isEnabled();
    }

    QTemporaryDir dir;
    FileDialogs files;
};

} // namespace korvo::test
