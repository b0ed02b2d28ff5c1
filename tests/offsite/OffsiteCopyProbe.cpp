// A stand-in for Tarvik in the kill test: queues the pictures it is given and
// copies until it is killed.
#include "OffsiteCopier.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 6) {
        std::fprintf(
            stderr,
            "usage: offsite_copy_probe JOURNAL URL IDENTITY KNOWN_HOSTS SCENEDIR [PICTURE...]\n");
        return 2;
    }
    TOffsiteTarget target;
    target.KnownHostsFile = arguments[4];
    const QString problem = target.Parse(arguments[2]);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 2;
    }
    target.IdentityFile = arguments[3];
    TOffsiteCopier copier(arguments[1]);
    copier.SetTarget(target);
    for (const QString& picture : arguments.mid(6))
        copier.Enqueue(arguments[5], picture);
    return app.exec();
}
