#include "application.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarvik {

void setUpApplication(QApplication& app)
{
    QApplication::setApplicationName(QStringLiteral("tarvik"));
    QApplication::setApplicationVersion(QStringLiteral("3.1"));

    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);

    auto* qtTranslator = new QTranslator(&app);
    if (qtTranslator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTranslator);
}

} // namespace tarvik
