#pragma once

#include "net/RunNetwork.h"

#include <QString>
#include <QStringList>

namespace zp {

// What the command line asks the program to do.
struct CommandLine {
    static constexpr int DefaultRetries = 2;
    static constexpr int MaxRetries = 100;

    enum class Mode { Window, Headless, Help, Version, UsageError };
    Mode mode = Mode::Window;
    QString text; // help or version text; for a usage error, the error and the usage
    int connections = RunNetwork::kDefaultConnections; // --connections N
    int retries
        = DefaultRetries; // --retries N: tries of a failed page before an unattended run answers No
    bool skipFailedProducts = false; // --skip-failed-products
    QString folder; // --folder: where the workbook goes; empty when not given
};

// Reads the arguments (arguments[0] is the program). Without arguments the
// window is shown; "--headless" runs once without it. Qt's own arguments
// (-platform, -style, -session ...) are left to Qt's application object:
// they do not count as unknown here.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace zp
