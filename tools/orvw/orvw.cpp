// orvw - command-line front end (placeholder).
#include "orv5w32.h"
int main() { return 0; }
