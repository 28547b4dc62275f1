#include "ftp/ftpclient.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    return runFtpClient(QCoreApplication::arguments());
}
