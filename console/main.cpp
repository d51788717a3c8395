#include "console/dialogue.h"

int main() { return dialogue::Run(); }
