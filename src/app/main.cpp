#include "app/BuildConfig.h"
#include "app/Form1.h"
#include "app/ProgramIcon.h"

#include <QApplication>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"zavrinello-parser"_s);
    QApplication::setApplicationVersion(QString::fromLatin1(zp::ProgramVersion));
    QApplication::setWindowIcon(zp::ProgramIcon());
    QGuiApplication::setDesktopFileName(u"zavrinello-parser"_s);

    zp::Form1 window;
    window.show();
    return QApplication::exec();
}
