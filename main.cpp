#include "app/application.h"

int main(int argc, char* argv[])
{
    return runPelno(argc, argv);
}
