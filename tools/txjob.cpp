#include "jobbuild.h"

int main() { return 0; }
