#include "app/korvo_app.h"
#include "platform/fonts.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/korvo.png")));
    InstallFontSubstitutions();
    theApp.InitInstance();
    return 0;
}
