#include "driver/driver.h"

int main(int argc, char** argv) { return lexaro::run(argc, argv); }
