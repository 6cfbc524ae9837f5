// The floor for the tool's start-up: a QtCore program that prints one line, nothing else.
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::puts("bare");
    return 0;
}
