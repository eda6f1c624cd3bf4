#include "app/application.h"
#include "app/mainform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tarvik::setUpApplication(app);
    tarvik::MainForm form;
    form.show();
    return app.exec();
}
