#pragma once

// The JUnit report of a run: one test case per expect step, in a file that
// CI servers read.
#include <QString>

#include <vector>

struct CliJunitCase
{
    QString name;
    double seconds = 0;
    // Empty when it passed; "skipped" when the run ended before the step.
    QString failure;
    bool skipped = false;
};

// False with the reason when the file cannot be written.
bool WriteCliJunit(const QString& path, const QString& suite, const std::vector<CliJunitCase>& cases,
                   QString* error);
