#include "cli/cli_junit.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

bool WriteCliJunit(const QString& path, const QString& suite, const std::vector<CliJunitCase>& cases,
                   QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    int failures = 0;
    int skipped = 0;
    double seconds = 0;
    for (const CliJunitCase& c : cases) {
        failures += !c.skipped && !c.failure.isEmpty();
        skipped += c.skipped;
        seconds += c.seconds;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suite);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 6));
    for (const CliJunitCase& c : cases) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suite);
        xml.writeAttribute(QStringLiteral("name"), c.name);
        xml.writeAttribute(QStringLiteral("time"), QString::number(c.seconds, 'f', 6));
        if (c.skipped) {
            xml.writeEmptyElement(QStringLiteral("skipped"));
        } else if (!c.failure.isEmpty()) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), c.failure);
            xml.writeCharacters(c.failure);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
