#include "app/mainform.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvik"));
    QApplication::setApplicationVersion(QStringLiteral("3.1"));

    // The window is drawn in a 9-point font; Qt's own dialogs and menus speak Chinese with it.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    tarvik::MainForm form;
    form.show();
    return app.exec();
}
