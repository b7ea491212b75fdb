#pragma once

namespace zp {

// Installs a message handler that keeps Qt's own debug, info and warning
// messages ("QIODevice::read (QNetworkReplyHttpImpl): device not open") off
// standard error: they are notes for developers, and standard error carries
// only the program's documented lines. Critical and fatal messages still go
// there, in Qt's own form. A debug build keeps Qt's handler, so that its
// developers see everything.
void KeepQtNotesOffStandardError();

} // namespace zp
